#!/usr/bin/env bash
# An image with 4096-byte sectors mounts through a VHDX: the attached disk has
# 4096-byte sectors and is the source disk byte for byte, its MainOS lists
# the source files, libvhdi accepts the file and reads the same disk from it;
# the next run sweeps the disk away and deletes the file.
source "$(dirname "$0")/lib.sh"

make_ffu s4k 64 4096 "$IMAGE_DISK_ID" MainOS
FFU=$T/s4k.ffu
MNT=$P/s4k.mnt/
run "$BRACKWEN" "$FFU"
expect_output "first run" "${BANNER[@]}" "(Korvex) Mounting the image file : '$FFU'" \
  "$MNT" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "first run exit code" 0 "$RC"

check "a VHDX and no VHD" "1 0" \
  "$(find "$P" -maxdepth 1 -name 'kmd*.vhdx' | wc -l) $(find "$P" -maxdepth 1 -name 'kmd*.vhd' | wc -l)"
vhdx=$(vhd_files | tail -n 1)
disk=$(loop_of "$vhdx")
[ -n "$disk" ] || fail "no loop device over $vhdx"
size=$(stat -c %s "$T/s4k.img")
check "logical sector size" 4096 "$(blockdev --getss "$disk")"
check "disk size" "$size" "$(blockdev --getsize64 "$disk")"
cmp "$disk" "$T/s4k.img" && echo "ok: disk bytes equal the image" || fail "disk bytes differ"
diff -r "$T/s4k.files" "$MNT" && echo "ok: MainOS files" || fail "MainOS files differ"

# libvhdi reads the file, not the loop device, and finds the source disk in
# it. (qemu reads VHDX files with 512-byte logical sectors only; the unit
# tests check the layer's VHDX layout with qemu-img on such files.)
vhdiinfo "$vhdx" >"$T/vhdi.txt" 2>&1 || fail "vhdiinfo refused the VHDX: $(cat "$T/vhdi.txt")"
grep -q "Format.*VHDX" "$T/vhdi.txt" && echo "ok: vhdiinfo format" || fail "vhdiinfo: $(cat "$T/vhdi.txt")"
grep -q "Media size.*($size bytes)" "$T/vhdi.txt" && echo "ok: vhdiinfo size" \
  || fail "vhdiinfo size: $(cat "$T/vhdi.txt")"
grep -q "Bytes per sector.*: 4096 bytes" "$T/vhdi.txt" && echo "ok: vhdiinfo sector size" \
  || fail "vhdiinfo sector size: $(cat "$T/vhdi.txt")"
/usr/bin/python3 - "$vhdx" "$T/s4k.img" >"$T/vhdi-compare.txt" 2>&1 <<'PY' \
  && echo "ok: libvhdi reads the source disk from the VHDX" || fail "libvhdi: $(cat "$T/vhdi-compare.txt")"
import pyvhdi, sys
vhdx = pyvhdi.file()
vhdx.open(sys.argv[1])
with open(sys.argv[2], "rb") as source:
    offset = 0
    while True:
        expected = source.read(1 << 20)
        if not expected:
            break
        if vhdx.read_buffer_at_offset(len(expected), offset) != expected:
            sys.exit("differs in the MiB at %d" % offset)
        offset += len(expected)
if offset != vhdx.get_media_size():
    sys.exit("media size %d, source %d" % (vhdx.get_media_size(), offset))
PY

# The next run (a 512-byte-sector image) sweeps the VHDX's disk away.
make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
run "$BRACKWEN" "$T/phone.ffu"
expect_output "sweep of the VHDX disk" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/phone.ffu'" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$vhdx'" \
  "$P/phone.mnt/" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "sweep run exit code" 0 "$RC"
check "VHDX deleted" no "$([ -e "$vhdx" ] && echo yes || echo no)"
check "VHDX disk detached" "" "$(loop_of "$vhdx")"
check "its MainOS unmounted" no "$(mountpoint -q "$MNT" && echo yes || echo no)"
check "only the new disk and its two volumes attached" 3 "$(test_loops | wc -w)"
