#!/usr/bin/env bash
# Images of several stores: a two-store and a three-store image whose MainOS
# lies in store 2 (4096-byte sectors in store 1, 512 in stores 2 and 3) mount
# that store's disk byte for byte, the image check covers every store, and
# the next run sweeps the disk. A manifest that does not match the stores and
# a payload size that would run into the next store's payload are refused
# with nothing made.
source "$(dirname "$0")/lib.sh"

"$SOURCE_DIR/scripts/make-sample-disk" --data "$T/lun0.img" 8 4096
"$SOURCE_DIR/scripts/make-sample-disk" "$T/phone.img" 32 512 "$IMAGE_DISK_ID" "$T/phone.files"
"$SOURCE_DIR/scripts/make-sample-disk" --data "$T/lun2.img" 4 512
"$FFU_PACK" --store "$T/lun0.img" --store "$T/phone.img" "$T/two.ffu" >/dev/null
"$FFU_PACK" --print-layout --store "$T/lun0.img" --store "$T/phone.img" --store "$T/lun2.img" \
  "$T/three.ffu" >"$T/three.layout"

# The listing shows every store and the partition a mount chooses in store 2.
run "$BRACKWEN" --list "$T/three.ffu"
check "list: exit code" 0 "$RC"
check "list: stores and sector sizes" "1 4096
2 512
3 512" "$(sed -n 's/^Store \([0-9]\) of 3 .* sector size \([0-9]*\) bytes.*/\1 \2/p' "$OUT")"
check "list: the chosen partition" 1 "$(grep -cE '^ +2  MainOS .*NTFS  \(mounted by default\)$' "$OUT")"
# C1 controls in a device path print as '?', also U+DC9B, which the Linux
# layer would write as the raw byte 0x9B.
python3 - "$T/three.ffu" "$T/c1.ffu" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find("DiskDevice0".encode("utf-16-le"))
data[at:at + 4] = bytes.fromhex("9b009bdc")
open(sys.argv[2], "wb").write(data)
PY
run "$BRACKWEN" --list "$T/c1.ffu"
check "list: C1 controls in a device path" "device path '??skDevice0'" \
  "$(grep -ao "device path '[^']*'" "$OUT" | head -n 1)"

# mounts NAME: runs NAME.ffu and checks the mount of store 2's disk.
mounts() {
  local ffu=$T/$1.ffu
  run "$BRACKWEN" "$ffu"
  expect_output "$1: output" "${BANNER[@]}" "(Korvex) Mounting the image file : '$ffu'" \
    "${SWEPT[@]}" "$P/$1.mnt/" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
  check "$1: exit code" 0 "$RC"
  vhd=$(vhd_files | tail -n 1)
  check "$1: store 2's disk, a VHD" .vhd ".${vhd##*.}"
  cmp "$(loop_of "$vhd")" "$T/phone.img" && echo "ok: $1: disk bytes equal store 2's image" \
    || fail "$1: disk bytes differ"
  diff -r "$T/phone.files" "$P/$1.mnt/" >/dev/null && echo "ok: $1: MainOS files" \
    || fail "$1: MainOS files differ"
  check "$1: one disk and its two volumes" 3 "$(test_loops | wc -w)"
}
SWEPT=()
mounts two
two_vhd=$vhd
SWEPT=("(Korvex) !WARNING! Successfully detached vhd file : '$two_vhd'")
mounts three
check "three: the earlier disk's file deleted" no "$([ -e "$two_vhd" ] && echo yes || echo no)"

# --- the check covers every store: one damaged chunk in store 1's payload, one
# in store 3's -------------------------------------------------------------------
chunk_of() {  # OFFSET: the chunk (128 KiB, from the image header) holding it
  echo $((($1 - $(awk '/^image-header/ {print $2}' "$T/three.layout")) / 131072))
}
payload=$(awk '/^payload / {print $2}' "$T/three.layout")
last=$(($(stat -c %s "$T/three.ffu") - 1))
"$FFU_PACK" --damage-chunk "$(chunk_of "$payload")" --damage-chunk "$(chunk_of "$last")" \
  --store "$T/lun0.img" --store "$T/phone.img" --store "$T/lun2.img" "$T/damaged.ffu" >/dev/null
run "$BRACKWEN" "$T/damaged.ffu"
check "damaged: exit code" 0 "$RC"
check "damaged: store 1's and store 3's payload named" "store 1's payload
store 3's payload" "$(sed -n "s/.*hash table; it holds \(.*\)\.$/\1/p" "$OUT")"

# --- refusals: nothing is made -------------------------------------------------
python3 - "$T" "$(awk '/^store-header /{print $2}' "$T/three.layout")" <<'PY'
import struct, sys
t, store = sys.argv[1], int(sys.argv[2])
data = bytearray(open(f"{t}/three.ffu", "rb").read())
manifest = data.replace(b"[Store]", b"[Stora]", 1)
open(f"{t}/manifest.ffu", "wb").write(manifest)
# Store 1 declares one block more payload than its entries take.
size = struct.unpack_from("<Q", data, store + 252)[0]
struct.pack_into("<Q", data, store + 252, size + 131072)
open(f"{t}/overlap.ffu", "wb").write(data)
PY
before=$(system_state)
refused() {  # NAME LINE
  run "$BRACKWEN" "$T/$1.ffu"
  expect_output "$1: refused" "${BANNER[@]}" "(Korvex) Mounting the image file : '$T/$1.ffu'" "$2" \
    "(Korvex) !ERROR! Failed to mount '$T/$1.ffu'" \
    "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."
  check "$1: exit code" 73 "$RC"
  check "$1: nothing made or swept" "$before" "$(system_state)"
}
refused manifest \
  "(Korvex) !ERROR! Unable to load the stores because the image holds 3 stores and its manifest describes 2."
size1=$(python3 -c "import struct; print(struct.unpack_from('<Q', open('$T/three.ffu', 'rb').read(), $(
  awk '/^store-header /{print $2}' "$T/three.layout") + 252)[0])")
refused overlap "(Korvex) !ERROR! Unable to load store 1 because its block data entries take $size1 bytes of payload and its header declares $((size1 + 131072))."
