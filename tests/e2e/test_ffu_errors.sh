#!/bin/bash
# FFU files that the reader refuses before any disk is made: a bad security
# header, a bad image header, a manifest without a "Store" category and a
# store cut off inside its header, and paths that name a FIFO, a folder or a
# device instead of a file. Each run prints its error lines in order and
# exits with 73.
set -u
: "${BRACKWEN:?path of the built Brackwen}" "${FFU_PACK:?path of ffu-pack}"

work=$(mktemp -d /tmp/ffu-errors-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A small GPT disk, packed into FFU files that ffu-pack damages for each case.
truncate -s 8M "$work/disk.img"
sgdisk -n 1:2048:+2M -c 1:MainOS -n 2:0:0 -c 2:Data "$work/disk.img" >/dev/null 2>&1 ||
  { echo "sgdisk failed"; exit 1; }
pack() {
  local name=$1
  shift
  "$FFU_PACK" "$@" "$work/disk.img" "$work/$name" || { echo "ffu-pack $* failed"; exit 1; }
}
pack bad-security.ffu --damage security-signature
pack bad-image.ffu --damage image-signature
pack no-store.ffu --damage store-category
pack truncated-store.ffu --end-in-store-header 100

# Paths that name no regular file. Nothing ever writes to the FIFO: a run
# that opened it for reading in the usual way would wait for ever.
mkfifo "$work/pipe.ffu"
mkdir "$work/folder.ffu"
ln -s /dev/zero "$work/device.ffu"

# Runs Brackwen on one file and compares its lines from the mount line on.
check() {
  local file=$1
  shift
  local path="$work/$file"
  local output status
  output=$(timeout 60 "$BRACKWEN" "$path")
  status=$?
  local actual expected
  actual=$(printf '%s\n' "$output" | sed -n '/^(Korvex) Mounting the image file/,$p')
  expected=$(printf "%s\n" "(Korvex) Mounting the image file : '$path'" "$@" \
    "(Korvex) !ERROR! Failed to initialize metadata with '$path'" \
    "(Korvex) !ERROR! Failed to load the Image : $path" \
    "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive.")
  if [ "$actual" != "$expected" ]; then
    fail "$file: lines differ"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual")
  fi
  [ "$status" -eq 73 ] || fail "$file: exit code $status, expected 73"
}

check bad-security.ffu \
  "(Korvex) !ERROR! Unable to load image because the security header is invalid."
check bad-image.ffu \
  "(Korvex) !ERROR! Unable to load image because the image header is invalid."
check no-store.ffu \
  "(Korvex) !ERROR! Unable to load image because the manifest describes no store."
check truncated-store.ffu \
  "(Korvex) !ERROR! Unable to load image because the store lies beyond the end of the file."
for name in pipe.ffu folder.ffu device.ffu; do
  check "$name" "(Korvex) !ERROR! Unable to load image because it is not a regular file."
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all FFU error cases passed"
