#!/usr/bin/env bash
# The program takes away only what is its own. The sweep detaches every image
# disk but deletes its file only when it has the exact name form of ours and
# lies in a private folder of ours; housekeeping deletes only names of that
# form. A run that fails takes away a mount it made on its work folder, even
# one of another disk's volume. A work folder path too long for the system
# fails before anything is made.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
FFU=$T/phone.ffu
MNT=$P/phone.mnt/

# Image disks over files that only look like ours: a user's copies outside
# our folders, and one in a folder named like ours that is open to others.
mkdir -p "$T/keep" "$T/shared/brackwen-0"
chmod 777 "$T/shared/brackwen-0"
mkdir -m 700 -p "$P"
lookalikes=("$T/keep/kmdmine.img" "$T/keep/kmd1A2B.vhd" "$T/shared/brackwen-0/kmd3C.vhd")
for file in "${lookalikes[@]}"; do
  cp "$T/phone.img" "$file"
  losetup --find "$file"
done
# Left in our own folder: one of our temporary names and two that are not.
touch "$P/kmd5D.tmp" "$P/kmd5D.tmp.keep" "$P/kmdnotes.txt"

run "$BRACKWEN" "$FFU"
check "run beside the lookalikes: exit code" 0 "$RC"
for file in "${lookalikes[@]}"; do
  grep -qxF "(Korvex) !WARNING! Successfully detached vhd file : '$file'" "$OUT" \
    || fail "$file: not detached"
  check "$file: kept" yes "$([ -f "$file" ] && echo yes || echo no)"
done
check "our temporary file deleted" no "$([ -e "$P/kmd5D.tmp" ] && echo yes || echo no)"
check "other names kept" "kmd5D.tmp.keep kmdnotes.txt" \
  "$(cd "$P" && ls kmd5D.tmp.keep kmdnotes.txt 2>/dev/null | xargs)"
own_vhd=$(vhd_files | tail -n 1)
cleanup_attached
rm -f "$own_vhd"

# A disk of another origin whose MainOS volume has the image's partition
# identity (a copy with a disk id of its own, its volume made by hand): the
# run's mount lands on that volume and the run fails; it must take that
# mount away again and leave the other disk as it was.
cp "$T/phone.img" "$T/keep/copy.img"
sgdisk -U R "$T/keep/copy.img" >/dev/null
copy=$(losetup --find --show "$T/keep/copy.img")
read -r start sectors < <(partx -g -o START,SECTORS -n 2 "$T/keep/copy.img")
losetup --find --offset $((start * 512)) --sizelimit $((sectors * 512)) "$copy"
before=$(system_state)
run "$BRACKWEN" "$FFU"
check "run beside another disk's volume: exit code" 73 "$RC"
check "run beside another disk's volume: nothing of its own left" "$before" "$(system_state)"
cleanup_attached

# A work folder path of 248 characters or more: refused before anything is made.
long=$(printf 'n%.0s' $(seq 1 230))
cp "$FFU" "$T/$long.ffu"
before=$(system_state)
run "$BRACKWEN" "$T/$long.ffu"
grep -qF "(Korvex) !ERROR! The work folder '$P/$long.mnt/' would have a path of" "$OUT" \
  || fail "long work folder: no line says why: $(cat "$OUT")"
check "long work folder: exit code" 73 "$RC"
check "long work folder: nothing made" "$before" "$(system_state)"
