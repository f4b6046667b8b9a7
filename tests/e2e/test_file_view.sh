#!/usr/bin/env bash
# The image's files without root: --view (FUSE, run as nobody), --ls and
# --copy, against the same partitions mounted from the source disk image
# (NTFS through ntfs-3g, FAT through fusefat), on a phone image with what
# Windows volumes hold beyond plain files, a desktop layout and a
# 4096-byte-sector image; and an image with one damaged chunk.
source "$(dirname "$0")/lib.sh"

# /dev/fuse is root's alone here; the view's runs open it to all and the
# mode goes back to 600 whatever happens.
fuse_mode=600
restore_fuse() { chmod "$fuse_mode" /dev/fuse 2>/dev/null || true; }
unmount_views() {
  local view
  for view in $(awk -v t="$T" '$2 ~ "^" t "/" && $3 ~ /fuse/ {print $2}' /proc/mounts | sort -r); do
    fusermount3 -u "$view" 2>/dev/null || umount -l "$view" 2>/dev/null || true
  done
}
trap 'status=$?; set +e; restore_fuse; unmount_views; (exit $status); finish' EXIT

chmod 1777 "$T"
cp "$BRACKWEN" "$T/Brackwen"
chmod 755 "$T/Brackwen"
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

# Partition NUMBER of the source disk NAME.img as a mount of its own on
# $T/LABEL.src; its bytes in $T/LABEL.part. Where it lies comes from
# the GPT, which --list prints (sgdisk reads a file in 512-byte sectors).
mount_source() {  # NAME NUMBER LABEL
  local sector first last label=$3
  sector=$("$BRACKWEN" --list "$T/$1.ffu" | sed -n 's/.*sector size \([0-9]*\) bytes.*/\1/p')
  read -r first last < <("$BRACKWEN" --list "$T/$1.ffu" |
    awk -v n="$2" '$1 == n {for (i = 2; i < NF; i++) if ($i ~ /^[0-9]+$/ && $(i+1) ~ /^[0-9]+$/) {print $i, $(i+1); exit}}')
  dd if="$T/$1.img" of="$T/$label.part" bs="$sector" skip="$first" count=$((last - first + 1)) status=none
  mkdir -p "$T/$label.src"
  if [ "$(head -c 11 "$T/$label.part" | tail -c 8)" = "NTFS    " ]; then
    mount -t ntfs-3g -o ro "$T/$label.part" "$T/$label.src"
  else
    fusefat -o ro,allow_other "$T/$label.part" "$T/$label.src" >/dev/null 2>&1
  fi
}

# Starts the view of IMAGE on $T/NAME.view as nobody.
start_view() {  # NAME IMAGE
  mkdir -p "$T/$1.view"
  chown nobody "$T/$1.view"
  chmod 666 /dev/fuse
  run_as_nobody "$T/Brackwen" --view "$2" "$T/$1.view"
  restore_fuse
  check "$1: the view starts" 0 "$RC"
}

# The tree (names, kinds, link targets resolved in the volume) and every
# regular file's bytes of the view's folder VOLUME equal those of SOURCE.
# On FAT, names are compared without case: Windows (and the view) honour
# the flags that show a short name in lower case, fusefat does not; and
# fusefat shows the volume label as a file.
compare_volume() {  # LABEL VIEW_FOLDER SOURCE
  local tree_view tree_source fold=cat file
  [ "$1" != EFIESP ] || fold="tr a-z A-Z"
  tree_view=$(as_nobody find "$2" -printf '%y %P\n' | $fold | sort)
  tree_source=$(find "$3" -printf '%y %P\n' | grep -v "^f EFIESP$" | $fold | sort)
  check "$1: the same tree" "$tree_source" "$tree_view"
  find "$3" -type f -printf '%P\n' | grep -vx EFIESP >"$T/files.txt"
  while read -r file; do
    as_nobody cmp -s "$2/$file" "$3/$file" || fail "$1: $file differs"
  done <"$T/files.txt"
  echo "ok: $1: $(wc -l <"$T/files.txt") files compared"
  local link
  for link in $(find "$3" -type l -printf '%P\n'); do
    check "$1: $link leads to the same place" "$(realpath -m "$3/$link" | sed "s|^$3/||")" \
      "$(as_nobody realpath -m "$2/$link" | sed "s|^$2/||")"
  done
}

# --- A phone image with compressed, sparse and linked files, streams, long and non-ASCII names.
SAMPLE_EXTRAS=1 make_ffu phone 64 512 "$IMAGE_DISK_ID" MainOS
chmod 644 "$T/phone.ffu"
mount_source phone 1 efi
mount_source phone 2 main
find "$T" -maxdepth 1 -name 'brackwen-*' >"$T/before.txt"
start_view phone "$T/phone.ffu"
V=$T/phone.view
compare_volume MainOS "$V/MainOS" "$T/main.src"
compare_volume EFIESP "$V/EFIESP" "$T/efi.src"
check "raw/ lists the disk and partitions" "EFIESP.img MainOS.img disk.img" \
  "$(as_nobody ls "$V/raw" | LC_ALL=C sort | paste -sd ' ')"
as_nobody cmp -s "$V/raw/disk.img" "$T/phone.img" && echo "ok: raw disk" || fail "raw disk differs"
as_nobody cmp -s "$V/raw/MainOS.img" "$T/main.part" && echo "ok: raw MainOS" || fail "raw MainOS differs"
check "a stream as an attribute" "the hidden stream" \
  "$(as_nobody getfattr --only-values -n user.Zone.Identifier "$V/MainOS/streams.txt")"
for lookup in "mainos/WINDOWS/system32/BUILD.INI:Windows/System32/build.ini" \
              "MAINOS/ÄRGER ÜBER STRAßE – NAÏVE CAFÉ ☕.TXT:Ärger über Straße – naïve café ☕.txt" \
              "efiesp/efi/MICROSOFT BOOT MANAGER/boot configuration DATA.TXT:../efi.src/EFI/Microsoft Boot Manager/Boot Configuration Data.txt"; do
  as_nobody cmp -s "$V/${lookup%%:*}" "$T/main.src/${lookup#*:}" && echo "ok: found in another case: ${lookup%%:*}" \
    || fail "lookup in another case: ${lookup%%:*}"
done
check "hard links share a file" "$(as_nobody stat -c %i "$V/MainOS/Links/original.txt")" \
  "$(as_nobody stat -c %i "$V/MainOS/Links/hardlink.txt")"

# --ls and --copy, as nobody, without FUSE.
run_as_nobody "$T/Brackwen" --ls "$T/phone.ffu" 'mainos\Links'
check "--ls lists a folder" "- hardlink.txt|l junction -> ../Windows|- original.txt|l symlink.txt -> ../readme.txt" \
  "$(tail -n +6 "$OUT" | awk '{n=$1; $1=$2=$3=$4=$5=""; print n " " substr($0, 6)}' | paste -sd '|')"
mkdir "$T/copies"; chown nobody "$T/copies"
run_as_nobody "$T/Brackwen" --copy "$T/phone.ffu" MainOS "$T/copies/main"
check "--copy of a volume" 0 "$RC"
check "the copy's tree and bytes" "" \
  "$(as_nobody diff -r --no-dereference "$T/copies/main" "$T/main.src" | grep -v '^Symbolic links')"
check "the copy keeps modification times" "$(stat -c %Y "$T/main.src/Nested/five-megabytes.bin")" \
  "$(stat -c %Y "$T/copies/main/Nested/five-megabytes.bin")"
echo kept >"$T/copies/exists"; chown nobody "$T/copies/exists"
run_as_nobody "$T/Brackwen" --copy "$T/phone.ffu" MainOS/readme.txt "$T/copies/exists"
check "an existing destination is refused and kept" "73 kept" "$RC $(cat "$T/copies/exists")"
ln -s "$T/copies" "$T/copies.link"
run_as_nobody "$T/Brackwen" --copy "$T/phone.ffu" MainOS/readme.txt "$T/copies.link/readme.txt"
check "a destination in a folder reached through a link" "0 same" \
  "$RC $(cmp -s "$T/copies/readme.txt" "$T/main.src/readme.txt" && echo same)"

# After the unmount nothing is left: no process, no mount, nothing new in the temporary folder.
as_nobody fusermount3 -u "$V"
for _ in $(seq 100); do pgrep -u nobody -x Brackwen >/dev/null || break; sleep 0.1; done
check "no view process left" "" "$(pgrep -u nobody -x Brackwen || true)"
check "no mount left" "" "$(awk -v v="$V" '$2 == v' /proc/mounts)"
check "nothing made in the temporary folder" "$(cat "$T/before.txt")" "$(find "$T" -maxdepth 1 -name 'brackwen-*')"

# The view refuses a folder that is not empty or not the user's.
run_as_nobody "$T/Brackwen" --view "$T/phone.ffu" "$T/copies"
check "a folder with files is refused" 73 "$RC"
mkdir "$T/roots"
run_as_nobody "$T/Brackwen" --view "$T/phone.ffu" "$T/roots"
check "a folder of another user is refused" 73 "$RC"
mkdir "$T/nofuse"; chown nobody "$T/nofuse"
run_as_nobody "$T/Brackwen" --view "$T/phone.ffu" "$T/nofuse"
check "/dev/fuse closed to the user" "1 (Korvex) !ERROR! The view needs FUSE, and /dev/fuse cannot be opened by this user here; --ls and --copy read the image's files without it." \
  "$RC $(tail -n 1 "$OUT")"

# --foreground: Ctrl-C ends the view, and its mount goes with it.
mkdir "$T/fg"; chown nobody "$T/fg"; chmod 666 /dev/fuse
# A script starts background jobs with SIGINT ignored: env puts it back.
# setpriv and env exec, so $! is the view itself (a function would leave a
# subshell there, which ignores the signal).
setpriv --reuid=nobody --regid=nogroup --clear-groups env --default-signal=INT \
  "$T/Brackwen" --view --foreground "$T/phone.ffu" "$T/fg" >/dev/null 2>&1 &
for _ in $(seq 300); do grep -q " $T/fg " /proc/mounts && break; sleep 0.1; done
restore_fuse
kill -INT $!
rc=0; wait $! || rc=$?
check "Ctrl-C ends a view in the foreground" "0 " "$rc $(grep " $T/fg " /proc/mounts || true)"

# --- One damaged chunk: exactly the files with data in it fail, all others read right.
# Where each chunk's payload lies on the disk comes from --check of images
# damaged everywhere (it names 20 chunks a run); which files use those
# clusters, from ntfscluster. The chunk taken holds only files' data.
chunks=$(( ($(stat -c %s "$T/phone.ffu") + 131071) / 131072 ))
: >"$T/ranges.txt"
for ((first = 1; first < chunks - 1; first += 19)); do
  args=()
  for ((c = first; c < first + 19 && c < chunks - 1; c++)); do args+=(--damage-chunk "$c"); done
  "$FFU_PACK" "${args[@]}" "$T/phone.img" "$T/damaged.ffu" >/dev/null
  "$BRACKWEN" --check "$T/damaged.ffu" |
    sed -n "s/.*Chunk \([0-9]*\) .*disk bytes \([0-9]*\) to \([0-9]*\) in 'MainOS'.*/\1 \2 \3/p" >>"$T/ranges.txt" || true
done
damaged=""
while read -r chunk start end && [ -z "$damaged" ]; do
  users=$(ntfscluster -f -c $(((start - 18432 * 512) / 4096))-$(((end - 18432 * 512) / 4096)) \
    "$T/main.part" 2>/dev/null | grep '^Inode' || true)
  if [ -n "$users" ] && ! grep -q ' /\$' <<<"$users"; then
    damaged=$(sed -n 's|^Inode [0-9]* /\(.*\)/\$DATA$|\1|p' <<<"$users" | sort)
    "$FFU_PACK" --damage-chunk "$chunk" "$T/phone.img" "$T/damaged.ffu" >/dev/null
  fi
done <"$T/ranges.txt"
[ -n "$damaged" ] || fail "no chunk holds file data"
chmod 644 "$T/damaged.ffu"
start_view damaged "$T/damaged.ffu"
D=$T/damaged.view/MainOS
failed=$(as_nobody find "$D" -type f -printf '%P\n' | sort | while read -r f; do
  if as_nobody cat "$D/$f" >/dev/null 2>&1; then
    as_nobody cmp -s "$D/$f" "$T/main.src/$f" || echo "WRONG BYTES $f"
  else echo "$f"; fi
done)
check "exactly the files in the damaged chunk fail" "$damaged" "$failed"
run_as_nobody "$T/Brackwen" --copy "$T/damaged.ffu" MainOS "$T/copies/failed"
check "a failed copy fails and leaves nothing" "73 no" "$RC $([ -e "$T/copies/failed" ] && echo yes || echo no)"
as_nobody fusermount3 -u "$T/damaged.view"
umount "$T/main.src" "$T/efi.src"

# --- Names that a volume written elsewhere may hold and no file here can have
# ('/' in an NTFS and in a FAT name, patched in): left out with a line, and
# never a path out of the copy's folder.
make_ffu names 64 512 "$IMAGE_DISK_ID" MainOS
mkdir "$T/names.src" "$T/copies/names" && chown nobody "$T/copies/names"
mount -t ntfs-3g -o offset=$((18432 * 512)) "$T/names.img" "$T/names.src"
: >"$T/names.src/..X..Xntfs" && umount "$T/names.src"
MTOOLS_SKIP_CHECK=1 mcopy -i "$T/names.img@@$((2048 * 512))" /dev/null "::/..X..Xfat"
python3 -c 'import sys; p = sys.argv[1]; d = open(p, "rb").read()
for a, b in (("..X..X", "../../"), ("..X..", "../.."), ("Xfat", "/fat")): d = d.replace(a.encode("utf-16-le"), b.encode("utf-16-le"))
open(p, "wb").write(d)' "$T/names.img"
"$FFU_PACK" "$T/names.img" "$T/names.ffu" >/dev/null && chmod 644 "$T/names.ffu"
for volume in MainOS EFIESP; do
  run_as_nobody "$T/Brackwen" --copy "$T/names.ffu" "$volume" "$T/copies/names/$volume"
  check "$volume: a name with '/' is left out of --copy, with its line" "0 1" \
    "$RC $(cat "$OUT" "$T/err.txt" | grep -c "holds an entry named '\.\./.*', which cannot be a file's name")"
done
check "nothing written out of the copy's folder" "" "$(ls "$T/copies" | grep -x 'ntfs\|fat' || true)"

# --- A desktop layout and a 4096-byte-sector image: the Windows volume.
"$SOURCE_DIR/scripts/make-sample-disk" --desktop "$T/desktop.img" 96 512 R >/dev/null
"$FFU_PACK" "$T/desktop.img" "$T/desktop.ffu" >/dev/null
make_ffu s4k 64 4096 "$IMAGE_DISK_ID" MainOS
chmod 644 "$T/desktop.ffu" "$T/s4k.ffu"
for case in "desktop 4 Basic data partition (4)" "s4k 2 MainOS"; do
  read -r name number folder <<<"$case"
  mount_source "$name" "$number" "$name"
  start_view "$name" "$T/$name.ffu"
  compare_volume "$name" "$T/$name.view/$folder" "$T/$name.src"
  as_nobody fusermount3 -u "$T/$name.view"
  umount "$T/$name.src"
done
