#!/usr/bin/env bash
# Only what is ours goes: image disks over lookalike files (outside our
# folders, or in one named like ours that others can write to) are detached,
# their files kept; housekeeping deletes only our exact names. A failed run
# takes away the mount it made, even of another disk's volume. A work folder
# path too long for the system fails before anything is made.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
mkdir -p "$T/keep" "$T/shared/brackwen-0" && chmod 777 "$T/shared/brackwen-0"
mkdir -m 700 "$P"
lookalikes=("$T/keep/kmdmine.img" "$T/keep/kmd1A2B.vhd" "$T/shared/brackwen-0/kmd3C.vhd")
for file in "${lookalikes[@]}"; do cp "$T/phone.img" "$file" && losetup -f "$file"; done
touch "$P/kmd5D.tmp" "$P/kmd5D.tmp.keep" "$P/kmdnotes.txt"
run "$BRACKWEN" "$T/phone.ffu"
check "beside lookalikes: detached" 3 "$(grep -c "Successfully detached vhd file" "$OUT")"
check "beside lookalikes: files kept" "3 kmd5D.tmp.keep kmdnotes.txt" \
  "$(ls "${lookalikes[@]}" | wc -l) $(cd "$P" && ls kmd5D* kmdn* | xargs)"
cleanup_attached && rm "$P"/kmd*.vhd

# A copy with a disk id of its own and a MainOS volume made by hand: the
# run mounts that volume and fails.
cp "$T/phone.img" "$T/keep/copy.img" && sgdisk -U R "$T/keep/copy.img" >/dev/null
read -r start sectors < <(partx -g -o START,SECTORS -n 2 "$T/keep/copy.img")
losetup -f -o $((start * 512)) --sizelimit $((sectors * 512)) "$(losetup -f --show "$T/keep/copy.img")"
before=$(system_state)
run "$BRACKWEN" "$T/phone.ffu"
check "beside another disk's volume: exit code, nothing left" "73 $before" "$RC $(system_state)"
cleanup_attached

long=$T/$(printf 'n%.0s' $(seq 1 230)).ffu
cp "$T/phone.ffu" "$long"
before=$(system_state)
run "$BRACKWEN" "$long"
check "long work folder: exit code, its line, nothing made" "73 1 $before" \
  "$RC $(grep -c "would have a path of" "$OUT") $(system_state)"
