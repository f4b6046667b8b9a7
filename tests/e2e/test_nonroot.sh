#!/usr/bin/env bash
# Without root a run fails cleanly with "Access is denied." at the first
# privileged call and leaves nothing behind: nothing attached, no file.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
chmod 755 "$T"
chmod 644 "$T/phone.ffu"
cp "$BRACKWEN" "$T/Brackwen"
chmod 755 "$T/Brackwen"
FFU=$T/phone.ffu

TAIL=("(Korvex) !ERROR! Unable to create VHD file."
      "(Korvex) !ERROR! Failed to mount '$FFU'"
      "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive.")

# Nothing attached yet: the attachment itself is refused; the run deletes
# the VHD file it made.
# The test's folder is open to all and sticky, as /tmp is; nobody's private
# folder in it is made once, as the first run of that user would.
chmod 1777 "$T"
setpriv --reuid=nobody --regid=nogroup --clear-groups mkdir -m 0700 "$T/brackwen-65534"
files() { find "$T" -path "$T/out.txt" -prune -o -path "$T/err.txt" -prune -o -print | sort; }
before=$(files)
run_as_nobody "$T/Brackwen" "$FFU"
after=$(files)
expect_output "no rights to attach" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "failed to attach vdisk...err 0x5" \
  "!ERROR! Access is denied.\r" "" \
  "${TAIL[@]}"
check "exit code without rights" 73 "$RC"
check "nothing attached" 0 "$(test_loops | wc -w)"
check "no file left" "$before" "$after"

# A disk attached already: the sweep cannot open it and stops; nothing new is
# created, and that disk stays as it was.
cp "$T/phone.img" "$T/earlier.img"
losetup --find --show "$T/earlier.img" >/dev/null
run_as_nobody "$T/Brackwen" "$FFU"
expect_output "no rights to sweep" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "!ERROR! Access is denied.\r" "" \
  "!ERROR! Access is denied.\r" "" \
  "${TAIL[@]}"
check "exit code without rights to sweep" 73 "$RC"
check "the earlier disk is still the only one" 1 "$(test_loops | wc -w)"
check "no VHD created" 0 "$(vhd_files 65534 | wc -l)"
