#!/usr/bin/env bash
# An earlier disk of the same image that cannot be detached (a shell stands
# in its mount) has the same partition identities as the new one. The new
# run must not take the old volume for its own: it fails with exit 73 and
# takes its own disk away; the old disk stays as it was until it is free,
# and then the next run sweeps it and mounts.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
FFU=$T/phone.ffu
MNT=$P/phone.mnt/

run "$BRACKWEN" "$FFU"
check "first run exit code" 0 "$RC"
first_vhd=$(vhd_files | tail -n 1)

(cd "$MNT" && exec sleep 600) &
shell=$!
trap 'kill "$shell" 2>/dev/null || true; finish' EXIT
until [ "$(readlink "/proc/$shell/cwd")" = "${MNT%/}" ] || ! kill -0 "$shell" 2>/dev/null; do
  sleep 0.05
done

run "$BRACKWEN" "$FFU"
expect_output "run beside the busy disk" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "failed to detach vdisk... 32" \
  "!ERROR! The process cannot access the file because it is being used by another process.\r" "" \
  "(Korvex) !WARNING! Unable to detach vhd file : '$first_vhd'" \
  "(Korvex) !ERROR! The volume mounted on '$MNT' lies on another disk of the same image, one that an earlier run could not detach." \
  "(Korvex) !ERROR! Unable to mount the existing full flash update image." \
  "(Korvex) !ERROR! Failed to mount '$FFU'" \
  "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."
check "run beside the busy disk: exit code" 73 "$RC"
check "only the first VHD is left" "$first_vhd" "$(vhd_files)"
check "only the first disk and its two volumes attached" 3 "$(test_loops | wc -w)"
check "the first disk is still mounted on the work folder" \
  "$(loop_of "$first_vhd")" "$(findmnt -n -o SOURCE "$MNT" | xargs -r -n1 losetup -n -O BACK-FILE --raw)"
check "no lock file left" "" "$(find "$T" -name '*.lock')"

kill "$shell"
wait "$shell" 2>/dev/null || true
run "$BRACKWEN" "$FFU"
expect_output "run once the disk is free" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$first_vhd'" \
  "$MNT" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "run once the disk is free: exit code" 0 "$RC"
check "one disk and its two volumes" 3 "$(test_loops | wc -w)"
diff -r "$T/phone.files" "$MNT" >/dev/null && echo "ok: MainOS files" || fail "MainOS files differ"
