#!/usr/bin/env bash
# The check of an image against its hash table, on real mounts: an image
# with one damaged header chunk and one damaged payload chunk still mounts,
# with one line for each chunk (its place in the file, the disk range and
# the partition it went to) and a final line that says the image is
# damaged; an image whose table does not fit its chunks mounts with one line
# that says it cannot be checked; an image whose blocks are smaller than its
# chunks mounts without a word. (The plain images of the other tests mount
# without a warning too: ffu-pack writes a correct table.)
source "$(dirname "$0")/lib.sh"

BLOCK=131072
CHUNK=131072

make_ffu phone 64 512 "$IMAGE_DISK_ID" MainOS
IMG=$T/phone.img

# ffu-pack writes the disk's non-zero blocks in disk order, one block per
# chunk with the defaults, after chunk 0 (image header and manifest) and
# chunk 1 (store header and block table). The payload chunk to damage lies
# inside blob.bin, a file of random bytes on MainOS, so that the damage
# shows in a file and nowhere in the file system's own structures.
read -r BLOB_BLOCK PAYLOAD_CHUNK TOTAL_CHUNKS < <(python3 - "$IMG" "$T/phone.files/Data/blob.bin" "$BLOCK" <<'PY'
import sys
img, blob, block = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), int(sys.argv[3])
start = img.find(blob[:4096])
assert start >= 0 and img[start:start + len(blob)] == blob, "blob.bin is not stored in one piece"
target = -(-start // block) + 1
nonzero = [b for b in range(len(img) // block) if any(img[b * block:(b + 1) * block])]
print(target, 2 + nonzero.index(target), 2 + len(nonzero))
PY
)
[ -n "$PAYLOAD_CHUNK" ] || fail "no block of blob.bin found"
"$FFU_PACK" --damage-chunk 1 --damage-chunk "$PAYLOAD_CHUNK" "$IMG" "$T/damaged.ffu" >/dev/null

IMAGE_START=131072  # the catalog and this disk's table fit the first chunk
chunk_bytes() { echo "$((IMAGE_START + $1 * CHUNK)) to $((IMAGE_START + ($1 + 1) * CHUNK - 1))"; }
DISK_FIRST=$((BLOB_BLOCK * BLOCK))
DISK_LAST=$((DISK_FIRST + BLOCK - 1))

run "$BRACKWEN" "$T/damaged.ffu"
expect_output "damaged image" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/damaged.ffu'" \
  "(Korvex) !WARNING! Chunk 1 (file bytes $(chunk_bytes 1)) does not match the image's hash table; it holds the store header, the block data entries and padding." \
  "(Korvex) !WARNING! Chunk $PAYLOAD_CHUNK (file bytes $(chunk_bytes "$PAYLOAD_CHUNK")) does not match the image's hash table; it holds payload for disk bytes $DISK_FIRST to $DISK_LAST in 'MainOS'." \
  "$P/damaged.mnt/" \
  "(Korvex) The catalog is not signed." "(Korvex) !WARNING! Mounted the image file, but the image is damaged: 2 of its $TOTAL_CHUNKS chunks do not match its hash table."
check "damaged image: exit code" 0 "$RC"
check "damaged image: MainOS mounted" yes "$(mountpoint -q "$P/damaged.mnt" && echo yes || echo no)"
# The disk differs from the source in the one flipped byte, the last of the
# damaged range, and blob.bin shows it.
disk=$(loop_of "$(vhd_files | tail -n 1)")
check "damaged image: differing disk bytes" "$((DISK_LAST + 1))" \
  "$(cmp -l "$disk" "$IMG" 2>/dev/null | awk '{print $1}' | paste -sd ' ')"
cmp -s "$T/phone.files/Data/blob.bin" "$P/damaged.mnt/Data/blob.bin" \
  && fail "damaged image: blob.bin reads back unchanged" || echo "ok: damaged image: blob.bin differs"
cleanup_attached
rm -f "$P"/kmd*.vhd  # detached by hand: no sweep line about them in the next run

# A table of two hashes for an image of many chunks.
"$FFU_PACK" --hash-table-size 64 "$IMG" "$T/short-table.ffu" >/dev/null
run "$BRACKWEN" "$T/short-table.ffu"
expect_output "short table" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/short-table.ffu'" \
  "(Korvex) !WARNING! The image cannot be checked: its hash table of 64 bytes does not hold one hash for each of its $TOTAL_CHUNKS chunks." \
  "$P/short-table.mnt/" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "short table: exit code" 0 "$RC"
diff -r "$T/phone.files" "$P/short-table.mnt/" && echo "ok: short table: files" \
  || fail "short table: files differ"
cleanup_attached
rm -f "$P"/kmd*.vhd  # detached by hand: no sweep line about them in the next run

# 4 KiB blocks in 64 KiB chunks: chunks hold the end of the headers and the
# first blocks, and many blocks each; the last chunk is a short one.
"$FFU_PACK" --block-size 4096 --chunk-kb 64 "$IMG" "$T/small-blocks.ffu" >/dev/null
check "small blocks: the file ends inside a chunk" yes \
  "$([ $(( $(stat -c %s "$T/small-blocks.ffu") % 65536 )) -ne 0 ] && echo yes || echo no)"
run "$BRACKWEN" "$T/small-blocks.ffu"
expect_output "small blocks" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/small-blocks.ffu'" \
  "$P/small-blocks.mnt/" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
check "small blocks: exit code" 0 "$RC"
cmp "$(loop_of "$(vhd_files | tail -n 1)")" "$IMG" && echo "ok: small blocks: disk bytes" \
  || fail "small blocks: disk bytes differ"
