#!/usr/bin/env bash
# Without root the runs that attach or detach disks stop at once with one
# line that says how to run them, before the lock and the image: nothing is
# made, read or swept. The jobs that only read the image run as anybody.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
chmod 755 "$T"
chmod 644 "$T/phone.ffu"
cp "$BRACKWEN" "$T/Brackwen"
chmod 755 "$T/Brackwen"
FFU=$T/phone.ffu
REFUSAL="(Korvex) !ERROR! Attaching and detaching disks needs administrator rights: run Brackwen as root (with sudo)."

# The test's folder is open to all and sticky, as /tmp is. A disk of the
# image stands attached: the refused runs leave it as it is.
chmod 1777 "$T"
cp "$T/phone.img" "$T/earlier.img"
losetup --find --show "$T/earlier.img" >/dev/null
files() { find "$T" \( -name out.txt -o -name err.txt -o -name expected.txt \) -prune -o -print | sort; }
before=$(files)
for args in "$FFU" "--partition MainOS $FFU" "--detach"; do
  # shellcheck disable=SC2086
  run_as_nobody "$T/Brackwen" $args
  expect_output "refused without rights: $args" "${BANNER[@]}" "$REFUSAL"
  check "exit code without rights: $args" 73 "$RC"
done
check "no file made" "$before" "$(files)"
check "the earlier disk is still the only one" 1 "$(test_loops | wc -w)"

# Reading the image needs no rights.
run_as_nobody "$T/Brackwen" --check "$FFU"
check "check without rights" 0 "$RC"
