#!/usr/bin/env bash
# A run killed at any moment (SIGKILL under gdb, at the same point every
# time) is cleaned up by the next run: its disk is detached whatever it
# holds (no GPT yet right after the attach), its VHD file deleted, its mount
# point removed and its lock taken over; the next run then mounts as ever.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
FFU=$T/phone.ffu
MNT=$P/phone.mnt/

# Killed after it made its VHD and before the attach: no disk, only the file.
run_killed_at AttachVirtualDisk "$FFU"
killed_vhd=$(vhd_files | tail -n 1)
[ -n "$killed_vhd" ] && [ -z "$(loop_of "$killed_vhd")" ] \
  || fail "AttachVirtualDisk: the killed run left no unattached VHD file"
run "$BRACKWEN" "$FFU"
expect_output "AttachVirtualDisk: the next run" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "(Korvex) !WARNING! Deleted a temporary file that no disk used : '$killed_vhd'" \
  "$MNT" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "AttachVirtualDisk: exit code" 0 "$RC"
check "AttachVirtualDisk: one VHD, the next run's" 1 "$(vhd_files | wc -l)"
check "AttachVirtualDisk: no lock file left" "" "$(find "$T" -name '*.lock')"
cleanup_attached
rm -f "$P"/kmd*.vhd

# The moments: right after the attach (a blank disk), before the copy,
# before the volumes arrive, before the partition is mounted and with the
# partition mounted, just before the success line.
for moment in GetVirtualDiskPhysicalPath CopyPayload UpdateDiskProperties MountChosenPartition \
              ShellExecuteW; do
  run_killed_at "$moment" "$FFU"
  killed_vhd=$(vhd_files | tail -n 1)
  [ -n "$killed_vhd" ] && [ -n "$(loop_of "$killed_vhd")" ] \
    || fail "$moment: the killed run left no attached disk to clean up"
  if [ "$moment" = GetVirtualDiskPhysicalPath ]; then
    check "$moment: the disk carries no GPT yet" "" \
      "$(blkid -p -s PTTYPE -o value "$(loop_of "$killed_vhd")" 2>/dev/null || true)"
  fi
  run "$BRACKWEN" "$FFU"
  expect_output "$moment: the next run" "${BANNER[@]}" \
    "(Korvex) Mounting the image file : '$FFU'" \
    "(Korvex) !WARNING! Successfully detached vhd file : '$killed_vhd'" \
    "$MNT" \
    "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
  check "$moment: exit code" 0 "$RC"
  check "$moment: killed run's VHD deleted" no "$([ -e "$killed_vhd" ] && echo yes || echo no)"
  check "$moment: killed run's disk detached" "" "$(loop_of "$killed_vhd")"
  check "$moment: one disk and its two volumes" 3 "$(test_loops | wc -w)"
  check "$moment: one mount on the work folder" 1 "$(findmnt -n "$MNT" | wc -l)"
  diff -r "$T/phone.files" "$MNT" >/dev/null && echo "ok: $moment: MainOS files" \
    || fail "$moment: MainOS files differ"
  check "$moment: no lock file left" "" "$(find "$T" -name '*.lock')"
  cleanup_attached
  rm -f "$P"/kmd*.vhd
done
