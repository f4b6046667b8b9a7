#!/usr/bin/env bash
# The options on the built binary and real FFU files: --help and the lines
# it cannot run, --list and --extract as user nobody (nothing left in the
# temporary folder), --detach after a mount.
source "$(dirname "$0")/lib.sh"

HELP=("Brackwen Usage:" "Brackwen Mount an image file as a virtual hard drive."
      "Brackwen <ImageFile>"
      "Brackwen --partition <Name> <ImageFile>  Mount the partition of that name instead."
      "Brackwen --list <ImageFile>  Show the image's headers, stores and partitions."
      "Brackwen --check <ImageFile>  Check the whole image against its hash table."
      "Brackwen --extract [--partition <Name>] <ImageFile> <OutFile>  Write the disk, or one partition, to a new raw image file (a VHDX or VHD file for .vhdx or .vhd)."
      "Brackwen --ls <ImageFile> [<Partition>/<Path>]  List the partitions, or the entries of one folder, without a mount."
      "Brackwen --copy <ImageFile> <Partition>/<Path> <Dest>  Copy a file or a folder out to the new path Dest."
      "Brackwen --view [--foreground] <ImageFile> <Folder>  Show the image's files on an empty folder of yours, as any user (fusermount3 -u <Folder> ends it)."
      "Brackwen --detach  Unmount and detach the disks of earlier mounts."
      "Brackwen --help  Show this text.")
START=("" "Ferrolith v.1.0.204" "$CREDITS")

run "$BRACKWEN" --help
expect_output "help" "${START[@]}" "${HELP[@]}"
check "help: exit code" 0 "$RC"

while IFS='|' read -r arguments fault; do
  # shellcheck disable=SC2086  # the arguments are split on purpose
  run "$BRACKWEN" $arguments
  expect_output "refused: $arguments" "${START[@]}" "(Korvex) !ERROR! $fault" "${HELP[@]}"
  check "refused: $arguments: exit code" 1 "$RC"
done <<'CASES'
--lsit x.ffu|Unknown option : '--lsit'
--extract x.ffu|The option --extract needs an image file and an output file.
--list --check x.ffu|The options --list and --check cannot be used together.
--partition EFIESP --list x.ffu|The options --list and --partition cannot be used together.
--detach x.ffu|The option --detach takes no image file.
--list x.ffu extra|Unexpected argument : 'extra'
CASES

make_ffu phone 64 512 "$IMAGE_DISK_ID" MainOS
FFU=$T/phone.ffu
chmod 1777 "$T"
chmod 644 "$FFU"
mkdir -m 0777 "$T/out"
files() { find "$T" -path "$T/out*" -prune -o -path "$T/err.txt" -prune -o -print | sort; }
"$FFU_PACK" --damage-chunk 1 --damage-chunk 5 "$T/phone.img" "$T/damaged.ffu" >/dev/null
"$FFU_PACK" --hash-table-size 64 "$T/phone.img" "$T/short-table.ffu" >/dev/null
chmod 644 "$T"/*.ffu
before=$(files)

# expect_partitions NAME IMG SECTOR DEFAULT: the list in $OUT shows each
# partition as sgdisk and blkid see it in the disk image, and no other, with
# the mount's choice on partition DEFAULT.
expect_partitions() {
  local name=$1 img=$2 sector=$3 default=$4 loop number first last code label type fs row rows=0
  loop=$(losetup --find --show --sector-size "$sector" "$img")
  while read -r number first last code; do
    label=$(sgdisk -i "$number" "$loop" | sed -n "s/^Partition name: '\(.*\)'$/\1/p")
    case $code in
      EF00) type="EFI system" ;; 0700) type="basic data" ;; 0C01) type="reserved \(MSR\)" ;;
      2700) type=recovery ;; *) type="\{[0-9A-F-]{36}\}" ;;
    esac
    fs=$(blkid -p -o value -s TYPE -O $((first * sector)) "$img" || true)
    case $fs in vfat) fs=FAT ;; ntfs) fs=NTFS ;; "") fs=none ;; esac
    row="^ +$number  $label +$type +$first +$last +[0-9.]+ [KMG]iB +0x0{16}  $fs"
    if [ "$number" = "$default" ]; then row="$row  \(mounted by default\)$"; else row="$row$"; fi
    grep -Eq "$row" "$OUT" && echo "ok: $name: partition $number" || fail "$name: no line /$row/"
    rows=$((rows + 1))
  done < <(sgdisk -p "$loop" | awk '/^ +[0-9]+ / {print $1, $2, $3, $6}')
  losetup -d "$loop"
  check "$name: partition lines" "$rows" "$(grep -Ec '^ +[0-9]+  ' "$OUT")"
}

run_as_nobody "$BRACKWEN" --list "$FFU"
check "list: exit code" 0 "$RC"
expect_partitions "list" "$T/phone.img" 512 2
check "list: store line" 1 "$(grep -c "^Store 1 of 1    : device path '', sector size 512 bytes, disk 67108864 bytes (64.0 MiB), payload" "$OUT")"

# The whole disk, byte for byte, sparse.
run_as_nobody "$BRACKWEN" --extract "$FFU" "$T/out/disk.img"
expect_output "extract" "${BANNER[@]}" \
  "(Korvex) Extracting the image file : '$FFU' to '$T/out/disk.img'" \
  "(Korvex) The catalog is not signed." \
  "(Korvex) Successfully extracted the image file to '$T/out/disk.img'."
check "extract: exit code" 0 "$RC"
cmp "$T/phone.img" "$T/out/disk.img" && echo "ok: extract: the disk's bytes" \
  || fail "extract: the file differs from the disk"
check "extract: sparse" yes "$([ $(du -k "$T/out/disk.img" | cut -f1) -lt 16384 ] && echo yes)"

# An existing file is refused and left as it was.
run_as_nobody "$BRACKWEN" --extract "$FFU" "$T/out/disk.img"
expect_output "extract over a file" "${BANNER[@]}" \
  "(Korvex) Extracting the image file : '$FFU' to '$T/out/disk.img'" \
  "(Korvex) The catalog is not signed." \
  "!ERROR! The file exists.\r" "\"$T/out/disk.img\"" \
  "(Korvex) !ERROR! Failed to extract the image file."
check "extract over a file: exit code" 73 "$RC"
cmp -s "$T/phone.img" "$T/out/disk.img" || fail "extract over a file: the file changed"

# Damaged chunks: their lines, and no file.
damaged_chunks() { sed -n 's/^(Korvex) !WARNING! Chunk \([0-9]*\) .*/\1/p' "$OUT" | paste -sd ' '; }
run_as_nobody "$BRACKWEN" --extract "$T/damaged.ffu" "$T/out/damaged.img"
check "extract damaged: exit code" 73 "$RC"
check "extract damaged: the chunks' lines" "1 5" "$(damaged_chunks)"
check "extract damaged: no file" no "$([ -e "$T/out/damaged.img" ] && echo yes || echo no)"

# A sector size no disk has (1 byte; the chunk's hash made to match) is
# refused as the mount refuses it, and no file is made.
python3 - "$FFU" "$T/out/sector1.ffu" <<'PY'
import hashlib, struct, sys
d = bytearray(open(sys.argv[1], "rb").read())
_, _, chunk_kb, _, catalog, table = struct.unpack_from("<I12sIIII", d)
chunk = chunk_kb * 1024
start = -(-(32 + catalog + table) // chunk) * chunk
at = d.index(b"SectorSize = 512")
d[at:at + 16] = b"SectorSize = 1  "
k = (at - start) // chunk
d[32 + catalog + 32 * k:32 + catalog + 32 * k + 32] = hashlib.sha256(
    d[start + k * chunk:start + (k + 1) * chunk]).digest()
open(sys.argv[2], "wb").write(d)
PY
chmod 644 "$T/out/sector1.ffu"
run_as_nobody "$BRACKWEN" --extract "$T/out/sector1.ffu" "$T/out/sector1.img"
check "extract sector size 1: exit code, its line, no file" "73 1 no" "$RC $(grep -cxF \
  "(Korvex) !ERROR! The image's sector size of 1 bytes is not one a disk has: 512 or 4096 bytes." \
  "$OUT") $([ -e "$T/out/sector1.img" ] && echo yes || echo no)"

# --check: exactly the damaged chunks, and an exit code for each outcome.
while IFS='|' read -r image code chunks final; do
  run_as_nobody "$BRACKWEN" --check "$T/$image"
  check "check $image: exit code" "$code" "$RC"
  check "check $image: damaged chunks" "$chunks" "$(damaged_chunks)"
  check "check $image: final line" 1 "$(tail -n 1 "$OUT" | grep -cF -- "$final")"
done <<'CASES'
phone.ffu|0||(Korvex) The image matches its hash table: all
damaged.ffu|2|1 5|(Korvex) !WARNING! The image is damaged: 2 of i
short-table.ffu|3||(Korvex) !ERROR! Failed to check the image file.
CASES
check "nothing left in the temporary folder" "$before" "$(files)"

# The other layouts: 4096-byte sectors, a desktop disk (largest basic data
# partition chosen).
make_ffu s4k 64 4096 "$IMAGE_DISK_ID" MainOS
"$SOURCE_DIR/scripts/make-sample-disk" --desktop "$T/desktop.img" 96 512 R
"$FFU_PACK" "$T/desktop.img" "$T/desktop.ffu" >/dev/null
chmod 644 "$T"/*.ffu
while read -r image sector default; do
  run_as_nobody "$BRACKWEN" --list "$T/$image.ffu"
  check "list $image: exit code" 0 "$RC"
  expect_partitions "list $image" "$T/$image.img" "$sector" "$default"
done <<'CASES'
s4k 4096 2
desktop 512 4
CASES

# One partition, byte for byte.
run_as_nobody "$BRACKWEN" --extract --partition EFIESP "$FFU" "$T/out/efiesp.img"
check "extract EFIESP: exit code" 0 "$RC"
read -r first last < <(sgdisk -i 1 "$T/phone.img" | awk '/First sector/ {f = $3} /Last sector/ {l = $3} END {print f, l}')
cmp "$T/out/efiesp.img" <(dd if="$T/phone.img" bs=512 skip="$first" count=$((last - first + 1)) status=none) \
  && echo "ok: extract EFIESP: the partition's bytes" || fail "extract EFIESP: the file differs"
run_as_nobody "$BRACKWEN" --extract --partition Nothing "$FFU" "$T/out/nothing.img"
check "extract of a missing partition: exit code" 73 "$RC"
check "extract of a missing partition: its line" 1 \
  "$(grep -c "^(Korvex) !ERROR! The image has no partition named Nothing; it has 'EFIESP', 'MainOS'.$" "$OUT")"
check "nothing left in the temporary folder at all" "$before" "$(files | grep -v -e s4k -e desktop)"

# Another partition by name: EFIESP's FAT files; then --detach takes the
# mount's disk, its mount point and its VHD file away.
run "$BRACKWEN" --partition EFIESP "$FFU"
check "mount of EFIESP: exit code" 0 "$RC"
check "mount of EFIESP: its FAT files" "boot configuration of the sample" \
  "$(cat "$P/phone.mnt/EFI/Boot/boot.cfg" 2>&1)"
vhd=$(vhd_files)
run "$BRACKWEN" --detach
expect_output "detach" "${BANNER[@]}" \
  "(Korvex) Detaching the image disks of earlier mounts." \
  "(Korvex) !WARNING! Successfully detached vhd file : '$vhd'" \
  "(Korvex) Swept the disks of earlier mounts."
check "detach: exit code" 0 "$RC"
check "detach: nothing attached or mounted" "" "$(test_loops; awk -v t="$T" 'index($5, t) == 1' /proc/self/mountinfo)"
check "detach: no VHD file" "" "$(vhd_files)"
