#!/usr/bin/env bash
# --extract to dynamic VHDX and VHD files, read back by qemu-img and libvhdi,
# and the promises of every extract's output file: nothing under its name
# until it is complete, whether the run fails, is interrupted or killed, or
# its folder is swapped for a link meanwhile; and --copy's, whose folder is swapped.
source "$(dirname "$0")/lib.sh"

make_ffu phone 64 512 "$IMAGE_DISK_ID" MainOS
make_ffu s4k 64 4096 "$IMAGE_DISK_ID" MainOS
"$SOURCE_DIR/scripts/make-sample-disk" --desktop "$T/desktop.img" 96 512 R
"$FFU_PACK" "$T/desktop.img" "$T/desktop.ffu" >/dev/null
"$FFU_PACK" --damage-chunk 3 "$T/phone.img" "$T/damaged.ffu" >/dev/null
# A 1 GiB disk whose MainOS holds 100 MiB of random bytes.
"$SOURCE_DIR/scripts/make-sample-disk" "$T/big.img" 1024 512 "$IMAGE_DISK_ID" "" MainOS
read -r start sectors < <(partx -g -o START,SECTORS -n 2 "$T/big.img")
part=$(losetup -f --show -o $((start * 512)) --sizelimit $((sectors * 512)) "$T/big.img")
mkdir "$T/fill" && ntfs-3g "$part" "$T/fill" && head -c 100M /dev/urandom >"$T/fill/random.bin"
umount "$T/fill" && losetup -d "$part" && "$FFU_PACK" "$T/big.img" "$T/big.ffu" >/dev/null
chmod 644 "$T"/*.ffu
mkdir -m 0777 "$T/out"
partition_bytes() {  # IMG NUMBER SECTOR: the bytes of one partition
  read -r first last < <(sgdisk -i "$2" "$1" | awk '/First sector/ {f = $3} /Last sector/ {l = $3} END {print f, l}')
  dd if="$1" bs="$3" skip="$first" count=$((last - first + 1)) status=none
}

# libvhdi_reads FILE SOURCE: libvhdi reads exactly SOURCE's bytes from FILE.
libvhdi_reads() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import pyvhdi, sys
disk = pyvhdi.file()
disk.open(sys.argv[1])
with open(sys.argv[2], "rb") as source:
    offset = 0
    while chunk := source.read(1 << 22):
        if disk.read_buffer_at_offset(len(chunk), offset) != chunk:
            sys.exit("differs in the 4 MiB at %d" % offset)
        offset += len(chunk)
if offset != disk.get_media_size():
    sys.exit("media size %d, source %d" % (disk.get_media_size(), offset))
PY
}

# Every layout, both formats, any case of the extension, one partition too.
while read -r image out sector partition; do
  source=$T/$image.img
  options=()
  if [ "$partition" != - ]; then
    options=(--partition EFIESP) source=$T/$out.part
    partition_bytes "$T/$image.img" "$partition" "$sector" >"$source"
  fi
  run_as_nobody "$BRACKWEN" --extract "${options[@]}" "$T/$image.ffu" "$T/out/$out"
  check "$out: exit code, last line" "0 (Korvex) Successfully extracted the image file to '$T/out/$out'." \
    "$RC $(tail -n 1 "$OUT")"
  vhdiinfo "$T/out/$out" >"$T/vhdi.txt" 2>&1 && grep -q "Bytes per sector.*: $sector bytes" "$T/vhdi.txt" \
    && echo "ok: $out: vhdiinfo" || fail "$out: vhdiinfo: $(cat "$T/vhdi.txt")"
  result=$(libvhdi_reads "$T/out/$out" "$source" 2>&1) && echo "ok: $out: libvhdi reads the disk" \
    || fail "$out: libvhdi: $result"
  [ "$sector" = 512 ] || continue  # qemu opens no VHDX of 4096-byte sectors
  format=$(qemu-img info --output=json "$T/out/$out" | sed -n 's/.*"format": "\(.*\)".*/\1/p')
  check "$out: qemu-img info" "$([[ ${out,,} == *.vhdx ]] && echo vhdx || echo vpc)" "$format"
  if [[ ${out,,} == *.vhdx ]]; then
    qemu-img check "$T/out/$out" >"$T/qemu.txt" 2>&1 && echo "ok: $out: qemu-img check" \
      || fail "$out: qemu-img check: $(cat "$T/qemu.txt")"
    qemu-img convert -O raw "$T/out/$out" "$T/back.img" && cmp -s "$T/back.img" "$source" \
      && echo "ok: $out: qemu-img reads the disk" || fail "$out: qemu-img reads other bytes"
    rm -f "$T/back.img"
  fi
done <<'CASES'
phone phone.vhdx 512 -
phone phone.VHD 512 -
s4k s4k.Vhdx 4096 -
desktop desktop.vhd 512 -
desktop desktop.vhdx 512 -
phone efiesp.vhdx 512 1
CASES

# Refused before anything is written: a VHD of 4096-byte sectors, an
# existing file, a damaged image.
echo keep >"$T/out/taken.vhdx"
while IFS='|' read -r image out line; do
  run_as_nobody "$BRACKWEN" --extract "$T/$image.ffu" "$T/out/$out"
  check "$out refused: exit code, its line" "73 1" "$RC $(grep -cF -- "$line" "$OUT")"
done <<'CASES'
s4k|s4k.vhd|(Korvex) !ERROR! A VHD file holds disks of 512-byte sectors only, and this disk has 4096-byte sectors: extract it to a VHDX file.
phone|taken.vhdx|!ERROR! The file exists.
damaged|damaged.vhdx|(Korvex) !ERROR! Failed to extract the image file.
CASES
check "refused: nothing written, the existing file kept" "0 keep" \
  "$(ls "$T/out" | grep -c -e '^s4k.vhd$' -e '^damaged') $(cat "$T/out/taken.vhdx")"
rm -f "$T"/out/*

# On FAT (its FUSE driver: no sparse files, no unnamed files, no change of a
# file's length) the VHDX takes the payload, its 4 MiB of tables and the
# unwritten rest of the 2 MiB blocks where data begins and ends, and a failed
# run leaves nothing there either.
truncate -s 600M "$T/fat.img" && mkfs.vfat -F 32 "$T/fat.img" >/dev/null
mkdir "$T/fat" && fusefat -o rw+ "$T/fat.img" "$T/fat"
run "$BRACKWEN" --extract "$T/big.ffu" "$T/fat/big.vhdx"
[ "$RC" = 0 ] || fail "FAT: the extract failed ($RC): $(cat "$OUT" "$T/err.txt")"
payload=$(set +o pipefail; "$BRACKWEN" --list "$T/big.ffu" | sed -n 's/.*payload \([0-9]*\) bytes.*/\1/p')
size=$(stat -c %s "$T/fat/big.vhdx")
echo "note: 1 GiB disk, payload $payload bytes, VHDX on FAT $size bytes"
check "FAT: exit code, payload plus tables at most" "0 yes" \
  "$RC $([ "$size" -le $((payload + 16 * 1048576)) ] && echo yes)"
result=$(libvhdi_reads "$T/fat/big.vhdx" "$T/big.img" 2>&1) && echo "ok: FAT: libvhdi reads the disk" \
  || fail "FAT: libvhdi: $result"
run "$BRACKWEN" --extract "$T/damaged.ffu" "$T/fat/damaged.vhd"
check "FAT: a failed run: exit code, nothing left" "73 big.vhdx" "$RC $(ls "$T/fat")"
fusermount -u "$T/fat"

# gdb_run BREAK COMMANDS... -- ARGS: the run stopped at BREAK, where gdb runs
# the commands; $T/gdb.txt holds the run's lines and its exit code (octal).
gdb_run() {
  local at=$1 commands=()
  shift
  while [ "$1" != -- ]; do commands+=(-ex "$1"); shift; done
  shift
  gdb -batch -nx -q -ex 'set breakpoint pending on' -ex "break $at" -ex run \
    "${commands[@]}" --args "$BRACKWEN" "$@" >"$T/gdb.txt" 2>&1 || true
  grep -q "Breakpoint 1, .*$at" "$T/gdb.txt" || fail "the run never reached $at"
}

# Killed or interrupted in the middle of the writes: nothing left, and an
# interrupt says so and exits 73.
while IFS='|' read -r signal ending; do
  gdb_run WriteFile 'ignore 1 40' continue delete "$signal" -- --extract "$T/big.ffu" "$T/out/big.vhdx"
  check "$signal: nothing left" "" "$(ls "$T/out")"
  if [ "$ending" != killed ]; then
    check "$signal: exit 73, its line" "1 1" "$(grep -c 'exited with code 0111' "$T/gdb.txt") \
$(grep -cxF '(Korvex) !ERROR! The run was interrupted; removing what it made.' "$T/gdb.txt")"
  fi
done <<'CASES'
kill|killed
signal SIGINT|interrupted
signal SIGTERM|interrupted
signal SIGHUP|interrupted
CASES

# OUT's folder, in a folder of another user, swapped by that user for a link
# to a folder of root's while the run (as root) has written its file: a run
# that fails removes nothing there, a run that succeeds names its file in the
# folder it opened.
mkdir -m 0755 "$T/user" "$T/victim" && chown nobody "$T/user"
setpriv --reuid=nobody --regid=nogroup --clear-groups mkdir "$T/user/box"
echo victim >"$T/victim/out.vhdx"
swap="shell setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c 'mv $T/user/box $T/user/old && ln -s $T/victim $T/user/box'"
while read -r image left; do
  gdb_run CheckToFileEnd "$swap" continue -- --extract "$T/$image.ffu" "$T/user/box/out.vhdx"
  check "swapped folder, $image: the other folder's file, the opened folder" "victim $left" \
    "$(cat "$T/victim/out.vhdx") $(ls "$T/user/old")"
  rm -rf "$T/user/old" "$T/user/box"
  setpriv --reuid=nobody --regid=nogroup --clear-groups mkdir "$T/user/box"
done <<'CASES'
damaged
phone out.vhdx
CASES

# --copy of a folder interrupted after the swap: it removes what it made in
# the folder it opened, and nothing of the same names where the link leads.
"$BRACKWEN" --copy "$T/phone.ffu" MainOS "$T/victim/main" >/dev/null
victim=$(find "$T/victim" | sort)
gdb_run SetFileTime 'ignore 1 3' "$swap" 'signal SIGINT' -- --copy "$T/phone.ffu" MainOS "$T/user/box/main"
check "swapped folder, --copy: the other folder's files stay, the copy's own go" "$victim 1 " \
  "$(find "$T/victim" | sort) $(grep -c 'Failed to copy' "$T/gdb.txt") $(ls "$T/user/old")"
