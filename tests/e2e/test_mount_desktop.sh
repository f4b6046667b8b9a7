#!/usr/bin/env bash
# Images with a desktop layout (EFI system, Microsoft reserved, a small and a
# large basic data partition, recovery; a disk without the image disk id):
# the largest basic data partition is mounted with a warning that names it,
# with 512-byte sectors (a VHD) and 4096-byte sectors (a VHDX); every next
# run sweeps the disk before it, and nothing of the last desktop disk is left
# after the run that follows it.
source "$(dirname "$0")/lib.sh"

# make_desktop_ffu NAME SECTOR: $T/NAME.img (the Windows volume's files in
# $T/NAME.files) packed into $T/NAME.ffu.
make_desktop_ffu() {
  "$SOURCE_DIR/scripts/make-sample-disk" --desktop "$T/$1.img" 96 "$2" R "$T/$1.files"
  "$FFU_PACK" "$T/$1.img" "$T/$1.ffu" >/dev/null
}

# The size of GPT partition NUMBER of IMAGE with SECTOR-byte sectors, in MiB.
partition_size() {
  python3 - "$@" <<'PY'
import struct, sys
image, sector, number = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(image, "rb") as f:
    f.seek(sector)
    header = f.read(92)
    entries, count, size = struct.unpack_from("<QII", header, 72)
    f.seek(entries * sector + (number - 1) * size)
    first, last = struct.unpack_from("<QQ", f.read(size), 32)
size, unit = (last - first + 1) * sector, 0
while unit < 5 and size >= 1024 ** (unit + 2) - 1024 ** (unit + 1) // 20:
    unit += 1
tenths = (size * 10 + 1024 ** (unit + 1) // 2) // 1024 ** (unit + 1)
print(f"{tenths // 10}.{tenths % 10} {['KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'][unit]}")
PY
}

warning_line() {  # NAME SECTOR
  echo "(Korvex) !WARNING! The image has no MainOS partition; mounting its largest basic data partition, 'Basic data partition' ($(partition_size "$T/$1.img" "$2" 4)), instead."
}

check_windows_volume() {  # NAME
  diff -r "$T/$1.files" "$P/$1.mnt/" && echo "ok: $1: the Windows volume's files" \
    || fail "$1: files differ"
  check "$1: one mount on the work folder" 1 "$(findmnt -n "$P/$1.mnt" | wc -l)"
}

# --- 512-byte sectors: a VHD ------------------------------------------------
make_desktop_ffu desk512 512
run "$BRACKWEN" "$T/desk512.ffu"
expect_output "desktop, 512" "${BANNER[@]}" "(Korvex) Mounting the image file : '$T/desk512.ffu'" \
  "$(warning_line desk512 512)" "$P/desk512.mnt/" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "desktop, 512: exit code" 0 "$RC"
check_windows_volume desk512
desk512_vhd=$(vhd_files | tail -n 1)
check "desktop, 512: a VHD" .vhd ".${desk512_vhd##*.}"

# --- 4096-byte sectors: a VHDX; this run sweeps the first desktop disk -------
make_desktop_ffu desk4k 4096
run "$BRACKWEN" "$T/desk4k.ffu"
expect_output "desktop, 4096" "${BANNER[@]}" "(Korvex) Mounting the image file : '$T/desk4k.ffu'" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$desk512_vhd'" \
  "$(warning_line desk4k 4096)" "$P/desk4k.mnt/" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "desktop, 4096: exit code" 0 "$RC"
check_windows_volume desk4k
check "desktop, 512: VHD deleted" no "$([ -e "$desk512_vhd" ] && echo yes || echo no)"
check "desktop, 512: its volume unmounted" no "$(mountpoint -q "$P/desk512.mnt" && echo yes || echo no)"
desk4k_vhdx=$(vhd_files | tail -n 1)
check "desktop, 4096: a VHDX" .vhdx ".${desk4k_vhdx##*.}"
check "desktop, 4096: 4096-byte sectors" 4096 "$(blockdev --getss "$(loop_of "$desk4k_vhdx")")"

# --- the next run sweeps the VHDX's disk --------------------------------------
make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
run "$BRACKWEN" "$T/phone.ffu"
expect_output "sweep of the desktop VHDX" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/phone.ffu'" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$desk4k_vhdx'" \
  "$P/phone.mnt/" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "sweep run: exit code" 0 "$RC"
check "desktop, 4096: VHDX deleted" no "$([ -e "$desk4k_vhdx" ] && echo yes || echo no)"
check "desktop, 4096: its volume unmounted" no "$(mountpoint -q "$P/desk4k.mnt" && echo yes || echo no)"
check "only the phone disk and its two volumes attached" 3 "$(test_loops | wc -w)"
