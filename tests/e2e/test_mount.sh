#!/usr/bin/env bash
# A whole mount on real loop devices and a real NTFS mount, then a second run
# that sweeps the first run's disk away and mounts again.
source "$(dirname "$0")/lib.sh"

make_ffu phone 64 512 "$IMAGE_DISK_ID" MainOS
FFU=$T/phone.ffu
MNT=$P/phone.mnt/

run "$BRACKWEN" "$FFU"
expect_output "first run" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "$MNT" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "first run exit code" 0 "$RC"

first_vhd=$(vhd_files | tail -n 1)
disk=$(loop_of "$first_vhd")
[ -n "$disk" ] || fail "no loop device over $first_vhd"
check "one VHD file" 1 "$(vhd_files | wc -l)"
check "the work folder is a mount point" yes "$(mountpoint -q "$MNT" && echo yes || echo no)"
check "no temporary file left" 0 "$(find "$P" -maxdepth 1 -name 'kmd*.tmp' | wc -l)"

# The disk holds exactly the source image's bytes over its whole size.
check "disk size" "$(stat -c %s "$T/phone.img")" "$(blockdev --getsize64 "$disk")"
cmp "$disk" "$T/phone.img" && echo "ok: disk bytes equal the image" || fail "disk bytes differ"
check "logical sector size" 512 "$(blockdev --getss "$disk")"

# The files of MainOS read back identical through the work folder.
diff -r "$T/phone.files" "$MNT" && echo "ok: MainOS files" || fail "MainOS files differ"
check "mounted nosuid,nodev" yes \
  "$(findmnt -n -o OPTIONS "$MNT" | grep -q 'nosuid' && findmnt -n -o OPTIONS "$MNT" | grep -q 'nodev' && echo yes || echo no)"

# Other tools take the VHD for what it is: a fixed disk of the image's size.
# (qemu sizes a VHD by its CHS geometry unless told to use the footer's size.)
size=$(stat -c %s "$T/phone.img")
json_field() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$@"; }
qemu-img info -f vpc --output=json "$first_vhd" >"$T/qemu.json" || fail "qemu-img refused the VHD"
check "qemu-img format" vpc "$(json_field "$T/qemu.json" format)"
qemu-img info --output=json --image-opts \
  "driver=vpc,force_size_calc=current_size,file.filename=$first_vhd" >"$T/qemu.json"
check "qemu-img virtual size" "$size" "$(json_field "$T/qemu.json" virtual-size)"
vhdiinfo "$first_vhd" >"$T/vhdi.txt" 2>&1 || fail "vhdiinfo refused the VHD"
grep -q "Disk type.*Fixed" "$T/vhdi.txt" && echo "ok: vhdiinfo sees a fixed disk" || fail "vhdiinfo: $(cat "$T/vhdi.txt")"
grep -q "Media size.*$size bytes" "$T/vhdi.txt" && echo "ok: vhdiinfo size" || fail "vhdiinfo size: $(cat "$T/vhdi.txt")"

# The second run sweeps the first disk away and mounts again.
run "$BRACKWEN" "$FFU"
expect_output "second run" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$first_vhd'" \
  "$MNT" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "second run exit code" 0 "$RC"
check "first VHD deleted" no "$([ -e "$first_vhd" ] && echo yes || echo no)"
check "first disk detached" "" "$(loop_of "$first_vhd")"
second_vhd=$(vhd_files | tail -n 1)
check "one VHD file after the second run" 1 "$(vhd_files | wc -l)"
check "second disk attached" yes "$([ -n "$(loop_of "$second_vhd")" ] && echo yes || echo no)"
check "one mount on the work folder" 1 "$(findmnt -n "$MNT" | wc -l)"
diff -r "$T/phone.files" "$MNT" && echo "ok: MainOS files after the second run" || fail "MainOS files differ"
check "only the second disk and its two volumes attached" 3 "$(test_loops | wc -w)"

# An opener that cannot start (a server without a shell): the run fails, its
# mount stays, and the folder's path stands on a line of its own first.
mkdir "$T/bin" && echo 'not a program' >"$T/bin/xdg-open" && chmod 755 "$T/bin/xdg-open"
DISPLAY=:9 PATH=$T/bin:$PATH run "$BRACKWEN" "$FFU"
expect_output "folder that cannot be opened" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$second_vhd'" \
  "$MNT" \
  "(Korvex) !ERROR! Failed to explorer the virtual hard drive." \
  "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."
check "exit code of a folder that cannot be opened" 73 "$RC"
diff -r "$T/phone.files" "$MNT" && echo "ok: the mount stays" || fail "MainOS files differ"
