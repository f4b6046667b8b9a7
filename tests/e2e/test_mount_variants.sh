#!/usr/bin/env bash
# Mounts of images that differ from the plain sample: no sector count (the
# 10 GiB disk), entries with several blocks and two locations, a desktop-like
# table without "MainOS", another disk identifier, and a disk that was
# attached by other means. (4096-byte sectors: test_mount_vhdx.sh.)
source "$(dirname "$0")/lib.sh"

BLOCK=131072
OTHER_DISK_ID=0F0E0D0C-0B0A-4909-8807-060504030201

expect_mounted_run() {  # NAME FFU WORK_FOLDER [LINES BEFORE THE FOLDER...]
  local name=$1 ffu=$2 folder=$3
  shift 3
  run "$BRACKWEN" "$ffu"
  expect_output "$name: output" "${BANNER[@]}" "(Korvex) Mounting the image file : '$ffu'" \
    "$@" "$folder" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
  check "$name: exit code" 0 "$RC"
}

disk_of_last_run() { loop_of "$(vhd_files | tail -n 1)"; }

# --- no sector count, runs of blocks, two locations ----------------------------
# The disk is 10 GiB; every entry holds a run of blocks and names a second
# place 512 blocks (64 MiB) further on, so the disk carries the image twice
# over, the backup GPT block once at the disk's end.
make_ffu runs 64 512 "$IMAGE_DISK_ID" MainOS --no-min-sector-count --merge-runs \
  --two-locations --copy-offset 512
expect_mounted_run "runs and copies" "$T/runs.ffu" "$P/runs.mnt/"
disk=$(disk_of_last_run)
image_size=$(stat -c %s "$T/runs.img")
disk_size=$(blockdev --getsize64 "$disk")
check "runs: 10 GiB disk" 10737418240 "$disk_size"
body=$((image_size - BLOCK))
cmp -n "$body" "$disk" "$T/runs.img" && echo "ok: runs: first copy" || fail "runs: first copy differs"
cmp -n "$body" -i "$image_size:0" "$disk" "$T/runs.img" && echo "ok: runs: second copy" \
  || fail "runs: second copy differs"
cmp -n "$BLOCK" -i "$((disk_size - BLOCK)):$body" "$disk" "$T/runs.img" \
  && echo "ok: runs: backup GPT at the disk's end" || fail "runs: last block differs"
diff -r "$T/runs.files" "$P/runs.mnt/" && echo "ok: runs: files" || fail "runs: files differ"
cleanup_attached
rm -f "$P"/kmd*.vhd

# --- no partition named MainOS: the largest basic data partition instead -----
# A desktop-like table: an EFI system partition, a small and a large basic
# data partition (the large one named like the small one) and a recovery
# partition; the disk carries another identifier, as captured desktop disks
# do. The large one is mounted, with a warning that names it and its size.
make_ffu desk 48 512 "$OTHER_DISK_ID" "Basic data partition"
sgdisk -d 2 -n 2:0:+4M -c 2:"Basic data partition" -t 2:0700 \
  -n 3:0:+30M -c 3:"Basic data partition" -t 3:0700 -n 4:0:0 -c 4:Recovery -t 4:2700 \
  "$T/desk.img" >/dev/null
# The files went into the partition sgdisk just moved: put a file system with
# files into the large one again.
large_first=$(sgdisk -i 3 "$T/desk.img" | awk '/First sector/ {print $3}')
large_sectors=$(sgdisk -i 3 "$T/desk.img" | awk '/Partition size/ {print $3}')
large_loop=$(losetup --find --show --offset $((large_first * 512)) \
  --sizelimit $((large_sectors * 512)) "$T/desk.img")
mkntfs -Q -F -L Windows "$large_loop" >/dev/null 2>&1
mkdir -p "$T/desk.fill"
mount -t ntfs-3g "$large_loop" "$T/desk.fill"
cp -r "$T/desk.files/." "$T/desk.fill/"
umount "$T/desk.fill"
losetup -d "$large_loop"
"$FFU_PACK" --sector-size 512 "$T/desk.img" "$T/desk.ffu" >/dev/null
expect_mounted_run "no MainOS" "$T/desk.ffu" "$P/desk.mnt/" \
  "(Korvex) !WARNING! The image has no MainOS partition; mounting its largest basic data partition, 'Basic data partition' (30.0 MiB), instead."
diff -r "$T/desk.files" "$P/desk.mnt/" && echo "ok: no MainOS: files of the large partition" \
  || fail "no MainOS: files differ"
desk_vhd=$(vhd_files | tail -n 1)

# The next run takes that disk by its file, without an image disk id, and
# removes the mount point it made.
make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
expect_mounted_run "sweep of a desktop disk" "$T/phone.ffu" "$P/phone.mnt/" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$desk_vhd'"
check "desktop disk detached" "" "$(loop_of "$desk_vhd")"
check "desktop VHD deleted" no "$([ -e "$desk_vhd" ] && echo yes || echo no)"
check "desktop folder no longer mounted" no "$(mountpoint -q "$P/desk.mnt" && echo yes || echo no)"
cleanup_attached
rm -f "$P"/kmd*.vhd

# --- another disk identifier, attached by other means: left alone -------------
make_ffu other 32 512 "$OTHER_DISK_ID" MainOS
cp "$T/other.img" "$T/other-by-hand.img"
losetup --find --show "$T/other-by-hand.img" >/dev/null
expect_mounted_run "sweep past another disk" "$T/phone.ffu" "$P/phone.mnt/"
check "other disk still attached" yes \
  "$([ -n "$(loop_of "$T/other-by-hand.img")" ] && echo yes || echo no)"
cleanup_attached
rm -f "$P"/kmd*.vhd

# --- a disk attached by other means from a file not named kmd... -------------
cp "$T/phone.img" "$T/attached-by-hand.img"
losetup --find --show "$T/attached-by-hand.img" >/dev/null
expect_mounted_run "sweep of a foreign file" "$T/phone.ffu" "$P/phone.mnt/" \
  "(Korvex) !WARNING! Successfully detached vhd file : '$T/attached-by-hand.img'"
check "foreign file kept" yes "$([ -f "$T/attached-by-hand.img" ] && echo yes || echo no)"
check "foreign disk detached" "" "$(loop_of "$T/attached-by-hand.img")"
cleanup_attached
rm -f "$P"/kmd*.vhd

# --- a compressed temporary folder ---------------------------------------------
# A new VHD takes its folder's compression (the kernel's flag, as chattr sets
# it), and a compressed file is not attached: the run clears it first.
chattr +c "$P"
expect_mounted_run "compressed folder" "$T/phone.ffu" "$P/phone.mnt/"
check "the VHD is not compressed" "" "$(lsattr "$(vhd_files | tail -n 1)" | awk '$1 ~ /c/')"
chattr -c "$P"
