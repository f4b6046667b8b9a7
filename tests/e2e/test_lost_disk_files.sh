#!/usr/bin/env bash
# A disk of ours whose file was deleted, had another file moved over it, or
# was overwritten is swept by its loop device like any other: unmounted and
# detached with the usual line, by the next mount or by --detach. Its file is
# deleted only when it is still the very file the disk was made from; a file
# put in its place stays as it is.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
make_ffu ufs 32 4096 "$IMAGE_DISK_ID" MainOS
echo "the user's file" >"$T/own.txt"

# CHANGE IMAGE RUN AFTERWARDS: what is done to the mounted disk's file, the
# run that sweeps it, and what lies at the file's name afterwards.
while read -r change image how after; do
  run "$BRACKWEN" "$T/$image.ffu"
  vhd=$(vhd_files | tail -n 1)
  case $change in
    deleted) rm "$vhd" ;;
    replaced) cp "$T/own.txt" "$vhd.new" && mv "$vhd.new" "$vhd" ;;
    overwritten) dd if=/dev/zero of="$vhd" bs=4096 count=1 conv=notrunc status=none ;;
  esac
  detached="(Korvex) !WARNING! Successfully detached vhd file : '$vhd'"
  if [ "$how" = detach ]; then
    run "$BRACKWEN" --detach
    expect_output "$change $image, $how: lines" "${BANNER[@]}" \
      "(Korvex) Detaching the image disks of earlier mounts." "$detached" \
      "(Korvex) Swept the disks of earlier mounts."
  else
    run "$BRACKWEN" "$T/$image.ffu"
    expect_output "$change $image, $how: lines" "${BANNER[@]}" \
      "(Korvex) Mounting the image file : '$T/$image.ffu'" "$detached" "$P/$image.mnt/" \
      "(Korvex) Successfully mounted an image file."
  fi
  found=$( ([ -e "$vhd" ] && tr ' ' _ <"$vhd" || echo none) | head -c 15)
  check "$change $image, $how: exit code, disk detached, file afterwards" "0 0 $after" \
    "$RC $(losetup -n -O BACK-FILE | grep -cF "$vhd") $found"
  cleanup_attached
  rm -f "$P"/kmd*
done <<'CASES'
deleted phone mount none
deleted phone detach none
replaced phone mount the_user's_file
overwritten phone mount none
overwritten ufs mount none
CASES
