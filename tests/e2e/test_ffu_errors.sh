#!/bin/bash
# FFU files that the reader refuses before any disk is made: a bad security
# header, a bad image header, a manifest without a "Store" category and a
# store cut off inside its header. Each run prints its error lines in order
# and exits with 73.
set -u
: "${BRACKWEN:?path of the built Brackwen}" "${FFU_PACK:?path of ffu-pack}"

work=$(mktemp -d /tmp/ffu-errors-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A small GPT disk, packed with the default 128 KiB chunks: the catalog
# (1000 bytes) and hash table (32 bytes a chunk) put the image header at 131072.
truncate -s 8M "$work/disk.img"
sgdisk -n 1:2048:+2M -c 1:MainOS -n 2:0:0 -c 2:Data "$work/disk.img" >/dev/null 2>&1 ||
  { echo "sgdisk failed"; exit 1; }
"$FFU_PACK" "$work/disk.img" "$work/good.ffu" || { echo "ffu-pack failed"; exit 1; }

# Copies of the good file with bytes changed or the tail cut off.
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
data = bytearray(open(f"{work}/good.ffu", "rb").read())

def write(name, content):
    open(f"{work}/{name}", "wb").write(content)

bad_security = bytearray(data)
bad_security[15] = 0  # the blank that ends "SignedImage "
write("bad-security.ffu", bad_security)

bad_image = bytearray(data)
bad_image[131072 + 14] = 0  # the two blanks that end "ImageFlash  "
bad_image[131072 + 15] = 0
write("bad-image.ffu", bad_image)

no_store = bytearray(data)
at = no_store.find(b"[Store]\r\n", 131072)
assert at > 0
no_store[at:at + 7] = b"[store]"  # an ordinary category now
write("no-store.ffu", no_store)

# The manifest and its padding end at 262144; keep 100 bytes of the store header.
write("truncated-store.ffu", data[:262144 + 100])
PY
[ $? -eq 0 ] || { echo "making the damaged copies failed"; exit 1; }

# Runs Brackwen on one file and compares its lines from the mount line on.
check() {
  local file=$1
  shift
  local path="$work/$file"
  local output status
  output=$("$BRACKWEN" "$path")
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

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all FFU error cases passed"
