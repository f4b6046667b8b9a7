#!/usr/bin/env bash
# A disk of ours whose file was deleted, replaced or overwritten is swept by
# its loop device with the usual line; its file is deleted only when it is
# still the very file the disk was made from, so a file put in its place stays.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
make_ffu ufs 32 4096 "$IMAGE_DISK_ID" MainOS
while read -r image change args after; do
  run "$BRACKWEN" "$T/$image.ffu"
  vhd=$(vhd_files | tail -n 1)
  case $change in
    deleted) rm "$vhd" ;;
    replaced) echo "the user's" >"$vhd.new" && mv "$vhd.new" "$vhd" ;;
    overwritten) dd if=/dev/zero of="$vhd" bs=4096 count=1 conv=notrunc status=none ;;
  esac
  run "$BRACKWEN" ${args/IMAGE/$T/$image.ffu}
  found=$( (tr ' ' _ <"$vhd" || echo none) 2>/dev/null)
  check "$image $change, $args: exit code, detached line, disk gone, file afterwards" "0 1 0 $after" \
    "$RC $(grep -cxF "(Korvex) !WARNING! Successfully detached vhd file : '$vhd'" "$OUT") $(
      losetup -n -O BACK-FILE | grep -cF "$vhd") $found"
  cleanup_attached && rm -f "$P"/kmd*
done <<'CASES'
phone deleted IMAGE none
phone deleted --detach none
phone replaced IMAGE the_user's
phone overwritten IMAGE none
ufs overwritten IMAGE none
CASES
