#!/usr/bin/env bash
# A run that fails leaves nothing behind. Images that the checks refuse make
# nothing at all, however often they are tried: `losetup -a` and the
# temporary folder stay exactly as they were; an image with no partition to
# mount is one of them, and the disk of an earlier run stays mounted. A run
# that fails once its disk exists (a damaged MainOS file system) takes away
# what it made: mount point, partition volumes, the disk and its VHD file.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
"$FFU_PACK" --store-version 2 "$T/phone.img" "$T/phone-v2.ffu" >/dev/null
"$FFU_PACK" --compressed "$T/phone.img" "$T/compressed.ffu" >/dev/null

# Copies of ffu-pack's output with one field of the store changed or the
# payload cut short. The store header lies at the first chunk boundary after
# the manifest; its block data entries follow its 248 bytes.
python3 - "$T" <<'PY'
import struct, sys
t = sys.argv[1]

def store_offset(data):
    chunk = struct.unpack_from("<I", data, 16)[0] * 1024
    catalog, hashes = struct.unpack_from("<II", data, 24)
    up = lambda n: (n + chunk - 1) // chunk * chunk
    image = up(32 + catalog + hashes)
    manifest = struct.unpack_from("<I", data, image + 16)[0]
    return up(image + 24 + manifest)

def damaged(source, name, change):
    data = bytearray(open(f"{t}/{source}", "rb").read())
    change(data, store_offset(data))
    open(f"{t}/{name}.ffu", "wb").write(data)

damaged("phone.ffu", "block-size-0", lambda d, s: struct.pack_into("<I", d, s + 204, 0))
damaged("phone.ffu", "block-size-odd", lambda d, s: struct.pack_into("<I", d, s + 204, 1000))
damaged("phone.ffu", "long-table", lambda d, s: struct.pack_into("<I", d, s + 212, 0xFFFFFF00))
# Entries declared 4 bytes longer each than they are, as a newer layout's.
damaged("phone.ffu", "unknown-layout",
        lambda d, s: struct.pack_into("<I", d, s + 212, struct.unpack_from("<I", d, s + 208)[0] * 20))
# The first entry's first location: a block far beyond the 32 MiB disk.
damaged("phone.ffu", "off-disk", lambda d, s: struct.pack_into("<I", d, s + 260, 0x00FFFFFF))
damaged("phone-v2.ffu", "two-stores", lambda d, s: struct.pack_into("<H", d, s + 248, 2))
data = open(f"{t}/phone.ffu", "rb").read()
open(f"{t}/short-payload.ffu", "wb").write(data[:-131072])
PY

STORE="(Korvex) !ERROR! Unable to load the store because"
bad_image_lines() {  # NAME: the lines its run must print after the banner
  local ffu=$T/$1.ffu
  case $1 in
    block-size-0) LINES=("$STORE its block size is 0.") ;;
    block-size-odd) LINES=("$STORE its block size is not a multiple of the sector size.") ;;
    long-table) LINES=("$STORE its block data entries are longer than the file.") ;;
    unknown-layout) LINES=("$STORE its block data entries have a layout this reader does not know.") ;;
    compressed) LINES=("$STORE the image is compressed (full flash version 3.0); compressed images cannot be read yet.") ;;
    off-disk) LINES=("(Korvex) !ERROR! Block data entry 0 places a block outside the disk.") ;;
    two-stores) LINES=("(Korvex) !ERROR! Unable to load the stores because the image holds 2 stores and its manifest describes 1.") ;;
    short-payload) LINES=("!ERROR! Reached the end of the file.\r" "\"$ffu\"") ;;
  esac
  LINES=("(Korvex) Mounting the image file : '$ffu'" "${LINES[@]}"
         "(Korvex) !ERROR! Failed to mount '$ffu'"
         "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive.")
}

# --- images the checks refuse: nothing is made, three runs each --------------
before=$(system_state)
for name in block-size-0 block-size-odd long-table unknown-layout compressed off-disk two-stores \
  short-payload; do
  bad_image_lines "$name"
  for attempt in 1 2 3; do
    run "$BRACKWEN" "$T/$name.ffu"
    expect_output "$name, run $attempt" "${BANNER[@]}" "${LINES[@]}"
    check "$name, run $attempt: exit code" 73 "$RC"
  done
  check "$name: nothing attached or left" "$before" "$(system_state)"
done

# --- a MainOS whose file system is damaged: the disk is made, then removed ---
cp "$T/phone.img" "$T/damaged.img"
main_first=$(sgdisk -i 2 "$T/damaged.img" | awk '/First sector/ {print $3}')
python3 - "$T/damaged.img" "$((main_first * 512))" <<'PY'
import struct, sys
path, start = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as disk:
    disk.seek(start)
    boot = disk.read(512)
    cluster = struct.unpack_from("<H", boot, 11)[0] * boot[13]
    disk.seek(start + struct.unpack_from("<q", boot, 48)[0] * cluster)
    disk.write(bytes(65536))  # the master file table's first records
PY
"$FFU_PACK" "$T/damaged.img" "$T/damaged.ffu" >/dev/null
before=$(system_state)
run "$BRACKWEN" "$T/damaged.ffu"
check "damaged MainOS: exit code" 73 "$RC"
grep -q "^(Korvex) !ERROR! Unable to mount the existing full flash update image.$" "$OUT" \
  && echo "ok: damaged MainOS: the mount is reported as failed" || fail "damaged MainOS: $(cat "$OUT")"
grep -q "Successfully mounted" "$OUT" && fail "damaged MainOS: success claimed"
check "damaged MainOS: nothing attached or left" "$before" "$(system_state)"

# --- no MainOS and no basic data partition: said in words before the sweep, so
# the disk of an earlier run stays mounted --------------------------------------
run "$BRACKWEN" "$T/phone.ffu"
check "earlier run: exit code" 0 "$RC"
before=$(system_state)
truncate -s 16M "$T/nodata.img"
sgdisk -o -U "$IMAGE_DISK_ID" -n 1:0:+4M -c 1:EFIESP -t 1:ef00 \
  -n 2:0:0 -c 2:Linux -t 2:8300 "$T/nodata.img" >/dev/null
"$FFU_PACK" "$T/nodata.img" "$T/nodata.ffu" >/dev/null
FFU=$T/nodata.ffu
run "$BRACKWEN" "$FFU"
expect_output "no partition to mount" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "(Korvex) !ERROR! The image has no partition named MainOS and no basic data partition to mount instead." \
  "(Korvex) !ERROR! Failed to mount '$FFU'" \
  "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."
check "no partition to mount: exit code" 73 "$RC"
check "no partition to mount: the earlier disk stays as it was" "$before" "$(system_state)"
check "no partition to mount: the earlier mount stays" yes \
  "$(mountpoint -q "$P/phone.mnt" && echo yes || echo no)"

# --- a MainOS without a file system: linked, but no success -----------------
run "$BRACKWEN" --detach
before=$(system_state)
truncate -s 16M "$T/raw.img"
sgdisk -o -U "$IMAGE_DISK_ID" -n 1:0:0 -c 1:MainOS -t 1:0700 "$T/raw.img" >/dev/null
"$FFU_PACK" "$T/raw.img" "$T/raw.ffu" >/dev/null
run "$BRACKWEN" "$T/raw.ffu"
check "RAW MainOS: exit code" 73 "$RC"
grep -q "^(Korvex) !ERROR! The volume mounted on '$P/raw.mnt/' holds no file system that can be read.$" \
  "$OUT" && echo "ok: RAW MainOS: said in words" || fail "RAW MainOS: $(cat "$OUT")"
check "RAW MainOS: nothing attached or left" "$before" "$(system_state)"

# --- a good image after all that mounts as ever ------------------------------
run "$BRACKWEN" "$T/phone.ffu"
check "good image after failures: exit code" 0 "$RC"
check "good image after failures: one disk and its two volumes" 3 "$(test_loops | wc -w)"
