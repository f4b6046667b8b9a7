#!/bin/bash
# FFU files that the reader refuses before any disk is made: a bad security
# header, a bad image header, a manifest without a "Store" category and a
# store cut off inside its header, and paths that name a FIFO, a folder or a
# device instead of a file. Each run prints its error lines in order and
# exits with 73.
source "$(dirname "$0")/lib.sh"
: "${FFU_PACK:?path of ffu-pack}"

# A small GPT disk, packed into FFU files that ffu-pack damages for each case.
truncate -s 8M "$T/disk.img"
sgdisk -n 1:2048:+2M -c 1:MainOS -n 2:0:0 -c 2:Data "$T/disk.img" >/dev/null 2>&1 ||
  { echo "sgdisk failed"; exit 1; }
pack() {
  local name=$1
  shift
  "$FFU_PACK" "$@" "$T/disk.img" "$T/$name" || { echo "ffu-pack $* failed"; exit 1; }
}
pack bad-security.ffu --damage security-signature
pack bad-image.ffu --damage image-signature
pack no-store.ffu --damage store-category
pack truncated-store.ffu --end-in-store-header 100

# Paths that name no regular file. Nothing ever writes to the FIFO: a run
# that opened it for reading in the usual way would wait for ever.
mkfifo "$T/pipe.ffu"
mkdir "$T/folder.ffu"
ln -s /dev/zero "$T/device.ffu"

# Runs Brackwen on one file and compares its lines from the mount line on.
refused_file() {
  local file=$1
  shift
  local path="$T/$file"
  local output status
  set +e
  output=$(timeout 60 "$BRACKWEN" "$path")
  status=$?
  set -e
  local actual expected
  actual=$(printf '%s\n' "$output" | sed -n '/^(Korvex) Mounting the image file/,$p')
  expected=$(printf "%s\n" "(Korvex) Mounting the image file : '$path'" "$@" \
    "(Korvex) !ERROR! Failed to initialize metadata with '$path'" \
    "(Korvex) !ERROR! Failed to load the Image : $path" \
    "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive.")
  if [ "$actual" != "$expected" ]; then
    fail "$file: lines differ"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  fi
  [ "$status" -eq 73 ] || fail "$file: exit code $status, expected 73"
}

refused_file bad-security.ffu \
  "(Korvex) !ERROR! Unable to load image because the security header is invalid."
refused_file bad-image.ffu \
  "(Korvex) !ERROR! Unable to load image because the image header is invalid."
refused_file no-store.ffu \
  "(Korvex) !ERROR! Unable to load image because the manifest describes no store."
refused_file truncated-store.ffu \
  "(Korvex) !ERROR! Unable to load image because the store lies beyond the end of the file."
for name in pipe.ffu folder.ffu device.ffu; do
  refused_file "$name" "(Korvex) !ERROR! Unable to load image because it is not a regular file."
done
