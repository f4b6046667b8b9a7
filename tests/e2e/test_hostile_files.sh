#!/usr/bin/env bash
# A partition over the GPT, off the disk, outside the usable sectors or over
# another is refused before the sweep; names print their escapes and
# overrides as '?'; output that cannot be written changes no exit code and
# stops no clean-up.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
python3 - "$T" <<'PY'
import struct, sys, zlib
for name, first, last in (("over-gpt", 0, 65502), ("off-disk", 18432, 70000), ("over-backup",
                          18432, 65535), ("overlap", 18431, 65502), ("unreadable", 18432, 65502),
                          ("own-sector", 18432, 65502)):
    d = bytearray(open(f"{sys.argv[1]}/phone.img", "rb").read())
    struct.pack_into("<QQ", d, 1024 + 128 + 32, first, last)  # MainOS, sgdisk's second entry
    struct.pack_into("<II", d, 512 + 88, zlib.crc32(d[1024:1024 + 128 * 128]), 0)
    if name == "own-sector":
        struct.pack_into("<Q", d, 512 + 24, 2)  # the header names sector 2 as its own
    struct.pack_into("<I", d, 512 + 16, zlib.crc32(d[512:528] + bytes(4) + d[532:604]))
    for sector in (18432, 65502) if name == "unreadable" else ():  # both NTFS boot sectors
        d[sector * 512:sector * 512 + 512] = bytes(512)
    open(f"{sys.argv[1]}/{name}.img", "wb").write(d)
PY
TABLE="(Korvex) !ERROR! Unable to read the partition table of store 1 because its partition 2 'MainOS'"
while IFS='|' read -r name line; do
  "$FFU_PACK" "$T/$name.img" "$T/$name.ffu" >/dev/null
  run "$BRACKWEN" "$T/phone.ffu" && before=$(system_state)
  run "$BRACKWEN" "$T/$name.ffu"
  check "$name: exit code, its line, the earlier mount stands" "73 1 $before" \
    "$RC $(grep -cxF "$line" "$OUT") $(system_state)"
done <<LINES
over-gpt|$TABLE (sectors 0 to 65502) lies over the GPT.
off-disk|$TABLE (sectors 18432 to 70000) ends beyond the disk's last sector (65535).
over-backup|$TABLE (sectors 18432 to 65535) lies outside the sectors its GPT gives to partitions (34 to 65502).
overlap|(Korvex) !ERROR! The partition MainOS cannot be mounted because it overlaps the partition EFIESP (sectors 2048 to 18431).
LINES
# A GPT header that names another sector as its own was copied from elsewhere.
"$FFU_PACK" --sector-size 512 "$T/own-sector.img" "$T/own-sector.ffu" >/dev/null
run "$BRACKWEN" --list "$T/own-sector.ffu"
check "own-sector: exit code, its line" "73 1" "$RC $(grep -cxF "(Korvex) !ERROR! Unable to read \
the partition table of store 1 because its GPT header names another sector as its own." "$OUT")"
EVIL=$'\e]0;X\a\e[2J\xe2\x80\xae' S='?]0;X??[2J?'
mkdir "$T/t$EVIL" && cp "$T/phone.ffu" "$T/x$EVIL.ffu"
for run in 1 2; do TMPDIR="$T/t$EVIL" "$BRACKWEN" "$T/x$EVIL.ffu" >>"$T/evil.txt"; done
counts=$(LC_ALL=C grep -c $'[\x01-\x09\x0b-\x1f\x7f]\|\xe2\x80[\xaa-\xae]\|\xe2\x81[\xa6-\xa9]' "$T/evil.txt"
  for text in "file : '$T/x$S.ffu'" "$T/t$S/brackwen-0/x$S.mnt/" "vhd file : '$T/t$S/brackwen-0/kmd"; do
    grep -cF "$text" "$T/evil.txt"; done) || true
check "raw names: control characters; image path, work folder, VHD path as '?'" "0 2 2 1" "$(echo $counts)"
cleanup_attached && "$FFU_PACK" "$T/unreadable.img" "$T/unreadable.ffu" >/dev/null
before=$(system_state)
codes=$("$BRACKWEN" "$T/overlap.ffu" >/dev/full; echo $?; for ffu in overlap unreadable; do
  python3 -c 'import os, subprocess, sys
r, w = os.pipe(); os.close(r); print(subprocess.call(sys.argv[1:], stdout=w))' "$BRACKWEN" "$T/$ffu.ffu"; done)
check "/dev/full, a pipe no one reads (refused, failed with a disk): exit codes, nothing left" \
  "73 73 73 $before" "$(echo $codes) $(system_state)"
