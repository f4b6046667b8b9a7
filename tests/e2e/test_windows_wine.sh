#!/bin/bash
# Smoke tests of the Windows build under Wine: the front-end cases that run
# before a virtual disk is created (banner, name check, usage, exit codes,
# file type, header and not-a-file errors), checked byte for byte on
# standard output.
#
# Builds nothing. Takes the executable from $BRACKWEN_EXE, else from
# $SOURCE_DIR/build-win/Brackwen.exe (scripts/build-windows makes it). When
# $BRACKWEN (the Linux build) is set, the credits line must match its own.
set -uo pipefail

source_dir="${SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
exe="${BRACKWEN_EXE:-$source_dir/build-win/Brackwen.exe}"

if [[ ! -f "$exe" ]]; then
  echo "FAIL: the Windows build is missing: $exe" >&2
  echo "      build it with scripts/build-windows, or set BRACKWEN_EXE" >&2
  exit 1
fi
ffu_pack="${FFU_PACK:-$source_dir/build/tools/ffu-pack/ffu-pack}"
if [[ ! -x "$ffu_pack" ]]; then
  echo "FAIL: ffu-pack is missing: $ffu_pack (scripts/build makes it), or set FFU_PACK" >&2
  exit 1
fi
source "$(dirname "${BASH_SOURCE[0]}")/wine_prefix.sh"
start_wine_prefix brackwen-wine

failures=0
checks=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The Windows form of a path under the temp folder, as the program sees it.
win_path() {
  local path="${1//\//\\}"
  printf 'Z:%s' "$path"
}

# Lines as the Windows build writes them to a file: text mode ends each
# line in CR LF.
crlf_lines() {
  local line
  for line in "$@"; do printf '%s\r\n' "$line"; done
}

# run_exe <exe> [args...]: runs under Wine with stdout to a file; sets
# run_rc and leaves the output in $tmp/out.
run_exe() {
  timeout 120 wine "$@" >"$tmp/out" 2>"$tmp/err"
  run_rc=$?
}

# expect <name> <exit code> <file> [<alternative file>]: the last run's exit
# code and its stdout, byte for byte, against one of the expected files.
expect() {
  local name="$1" rc="$2" expected="$3" alternative="${4:-}"
  checks=$((checks + 1))
  if [[ "$run_rc" != "$rc" ]]; then
    fail "$name: exit code $run_rc, expected $rc"
    cat -A "$tmp/out" >&2
    sed 's/^/    stderr: /' "$tmp/err" | head -5 >&2
    return
  fi
  if cmp -s "$tmp/out" "$expected"; then return; fi
  if [[ -n "$alternative" ]] && cmp -s "$tmp/out" "$alternative"; then return; fi
  fail "$name: output differs (expected, then actual):"
  cat -A "$expected" >&2
  echo "    ----" >&2
  cat -A "$tmp/out" >&2
}

banner_lines() {
  printf '\r\n'
  crlf_lines "Ferrolith v.1.0.204" "$credits"
}

usage_lines() {
  banner_lines
  crlf_lines "Brackwen Usage:" \
    "Brackwen Mount an image file as a virtual hard drive." \
    "Brackwen <ImageFile>"
}

# The run banner and the mounting line for an image path.
run_head_lines() {
  banner_lines
  crlf_lines "Brackwen Tool v.1.0.15" "" "(Korvex) Mounting the image file : '$1'"
}

load_failure_tail() {
  crlf_lines "(Korvex) !ERROR! Failed to load the Image : $1" \
    "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."
}

# A small FFU file with one header damaged by ffu-pack: $1 is the damage.
damaged_ffu() {
  "$ffu_pack" --block-size 4096 --chunk-kb 1 --catalog-size 16 --hash-table-size 16 \
    --damage "$1" "$tmp/disk.img" "$2" >/dev/null
}

# --- The application manifest resource -----------------------------------
# RT_MANIFEST (24) with id 1 must ask for no elevation: asInvoker, no UI
# access. Read from the executable's resource directory.
checks=$((checks + 1))
if ! manifest_report="$(python3 - "$exe" 2>&1 <<'EOF'
import struct, sys

data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[pe:pe + 4] != b"PE\0\0":
    sys.exit("not a PE file")
sections = struct.unpack_from("<H", data, pe + 6)[0]
optional_size = struct.unpack_from("<H", data, pe + 20)[0]
optional = pe + 24
if struct.unpack_from("<H", data, optional)[0] != 0x20B:
    sys.exit("not a 64-bit executable")
resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
table = optional + optional_size

def offset_of(rva):
    for i in range(sections):
        size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if address <= rva < address + max(size, raw_size):
            return raw + rva - address
    sys.exit("address outside the sections")

if resource_rva == 0:
    sys.exit("no resources")
root = offset_of(resource_rva)

def entries(directory):
    named, ids = struct.unpack_from("<HH", data, root + directory + 12)
    for i in range(named + ids):
        yield struct.unpack_from("<II", data, root + directory + 16 + 8 * i)

def child(directory, wanted):
    for name, target in entries(directory):
        if name == wanted and target & 0x80000000:
            return target & 0x7FFFFFFF
    sys.exit("no resource %d" % wanted)

manifests = child(child(0, 24), 1)
languages = list(entries(manifests))
if len(languages) != 1 or languages[0][1] & 0x80000000:
    sys.exit("expected one manifest")
rva, size = struct.unpack_from("<II", data, root + languages[0][1])
text = data[offset_of(rva):offset_of(rva) + size].decode("utf-8")
if 'level="asInvoker"' not in text or 'uiAccess="false"' not in text:
    sys.exit("manifest without asInvoker: " + text)
print("manifest resource 24/1 of %d bytes, asInvoker" % size)
EOF
)"; then
  fail "application manifest: $manifest_report"
fi

# --- Prepare the prefix once, and the copies of the executable ----------
echo "Preparing the Wine prefix..."
if ! timeout 300 wineboot -i >"$tmp/wineboot.log" 2>&1; then
  echo "FAIL: wineboot could not prepare the prefix" >&2
  tail -5 "$tmp/wineboot.log" >&2
  exit 1
fi

mkdir -p "$tmp/bin" "$tmp/lower" "$tmp/old" "$tmp/tools.old" "$tmp/images" \
  "$tmp/images/old.images"
cp "$exe" "$tmp/bin/Brackwen.exe"
cp "$exe" "$tmp/lower/brackwen.exe"
cp "$exe" "$tmp/old/Brackwen.old.exe"
cp "$exe" "$tmp/tools.old/Brackwen.exe"

# The credits line is the program's own wording: the Linux build prints the
# same one. Without the Linux build, the Windows one's third line is taken
# and only checked for being a line of text.
run_exe "$tmp/bin/Brackwen.exe"
if [[ -n "${BRACKWEN:-}" && -x "${BRACKWEN}" ]]; then
  credits="$("$BRACKWEN" 2>/dev/null | sed -n 3p)"
else
  credits="$(sed -n 3p "$tmp/out" | tr -d '\r')"
fi
if [[ -z "$credits" || "$credits" == Brackwen* ]]; then
  fail "no credits line found (got '$credits')"
fi

images="$tmp/images"
touch "$images/disk.vhd" "$images/system.wim" "$images/cd.iso" "$images/noextension" \
  "$images/old.images/image"
truncate -s 1M "$tmp/disk.img"
sgdisk -n 1:0:0 -c 1:MainOS "$tmp/disk.img" >/dev/null
damaged_ffu security-signature "$images/badsecurity.ffu"
damaged_ffu image-signature "$images/badimage.ffu"
mkdir "$images/folder.ffu"
win_images="$(win_path "$images")"

# --- Banner, usage and the name check ------------------------------------
usage_lines >"$tmp/expected"
# (run above, with no argument)
expect "no argument" 1 "$tmp/expected"

run_exe "$tmp/lower/brackwen.exe" "$win_images\\disk.vhd"
expect "lower-case name brackwen.exe" 1 "$tmp/expected"

run_exe "$tmp/old/Brackwen.old.exe" "$win_images\\disk.vhd"
expect "name Brackwen.old.exe" 1 "$tmp/expected"

# --- A missing file, run from a folder whose name holds a dot ------------
missing="$win_images\\missing.ffu"
for system_text in "File not found." "The system cannot find the file specified."; do
  {
    run_head_lines "$missing"
    # The system text ends in CR LF itself; the line still ends in one CR LF.
    printf '!ERROR! %s\r\n' "$system_text"
    crlf_lines "\"$missing\""
    load_failure_tail "$missing"
  } >"$tmp/expected.${system_text%% *}"
done
run_exe "$tmp/tools.old/Brackwen.exe" "$missing"
expect "missing file from tools.old" 73 "$tmp/expected.File" "$tmp/expected.The"

# --- Refused file types ---------------------------------------------------
# Output to a file keeps each status line once, with its final text: here
# the loading line that a refused type leaves at "processing".
type_case() {
  local file="$1" message="$2" extension="$3" path="$win_images\\$1"
  { run_head_lines "$path"; crlf_lines "$message" "Loading $extension image ... processing"
    load_failure_tail "$path"; } >"$tmp/expected"
  run_exe "$tmp/bin/Brackwen.exe" "$path"
  expect "file type of $file" 73 "$tmp/expected"
}
type_case disk.vhd "(Korvex) !ERROR! VHD files not yet supported." .VHD
type_case system.wim "(Korvex) !ERROR! WIM files not yet supported." .WIM
type_case cd.iso "(Korvex) !ERROR! Unrecognized file type .ISO not supported." .ISO
type_case noextension "(Korvex) !ERROR! Unrecognized file type not supported." ""
# The last dot lies in a folder name: the extension runs from there.
type_case 'old.images\image' "(Korvex) !ERROR! Unrecognized file type .IMAGES\IMAGE not supported." \
  '.IMAGES\IMAGE'

# --- FFU files with invalid headers ---------------------------------------
header_case() {
  local file="$1" message="$2" path="$win_images\\$1"
  {
    run_head_lines "$path"
    crlf_lines "$message" "(Korvex) !ERROR! Failed to initialize metadata with '$path'" \
      "Loading .FFU image ... fault!"
    load_failure_tail "$path"
  } >"$tmp/expected"
  run_exe "$tmp/bin/Brackwen.exe" "$path"
  expect "invalid header in $file" 73 "$tmp/expected"
}
header_case badsecurity.ffu \
  "(Korvex) !ERROR! Unable to load image because the security header is invalid."
header_case badimage.ffu \
  "(Korvex) !ERROR! Unable to load image because the image header is invalid."
# The system refuses to open a folder as a file; the program says what it is.
header_case folder.ffu \
  "(Korvex) !ERROR! Unable to load image because it is not a regular file."

# A later argument is ignored.
path="$win_images\\cd.iso"
{ run_head_lines "$path"; crlf_lines "(Korvex) !ERROR! Unrecognized file type .ISO not supported." \
    "Loading .ISO image ... processing"
  load_failure_tail "$path"; } >"$tmp/expected"
run_exe "$tmp/bin/Brackwen.exe" "$path" "$win_images\\disk.vhd"
expect "second argument ignored" 73 "$tmp/expected"

# --- The options that read an image and attach nothing --------------------
# wine_case <name> <exit code> <text the output must hold> <arguments...>
wine_case() {
  local name=$1 rc=$2 text=$3
  shift 3
  run_exe "$tmp/bin/Brackwen.exe" "$@"
  checks=$((checks + 1))
  if [[ "$run_rc" != "$rc" ]] || ! tr -d '\r' <"$tmp/out" | grep -qxF -- "$text"; then
    fail "$name: exit code $run_rc (expected $rc), or no line '$text':"
    cat -A "$tmp/out" >&2
  fi
}
cp "$tmp/disk.img" "$tmp/basic.img"
sgdisk -t 1:0700 "$tmp/basic.img" >/dev/null
"$ffu_pack" "$tmp/basic.img" "$images/plain.ffu" >/dev/null
"$ffu_pack" --damage-chunk 1 "$tmp/basic.img" "$images/damaged.ffu" >/dev/null
wine_case "--help" 0 "Brackwen --detach  Unmount and detach the disks of earlier mounts." --help
wine_case "--list" 0 "Image header    : chunk size 128 KiB, manifest 293 bytes" \
  --list "$win_images\\plain.ffu"
wine_case "--check" 0 "(Korvex) The image matches its hash table: all 4 chunks checked." --check "$win_images\\plain.ffu"
wine_case "--check of a damaged image" 2 \
  "(Korvex) !WARNING! The image is damaged: 1 of its 4 chunks do not match its hash table." \
  --check "$win_images\\damaged.ffu"
# The catalog through the system's own message and certificate calls.
checks=$((checks + 1))
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name: CRYPT32.dll/ {on = 1; next} /DLL Name/ {on = 0} on && NF == 3 && $2 ~ /^[0-9]+$/ {print $3}' | sort | paste -sd ' ')
[[ "$imports" == "CertCloseStore CertFreeCertificateContext CertGetNameStringW CertGetSubjectCertificateFromStore CertOpenStore CryptDecodeObject CryptMsgClose CryptMsgControl CryptMsgGetParam CryptMsgOpenToDecode CryptMsgUpdate" ]] \
  || fail "the imports from CRYPT32.dll: $imports"
# The disk, volume and token queries through the system's own calls.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk 'NF == 3 && $2 ~ /^[0-9]+$/ {print $3}')
for call in DeviceIoControl FindFirstVolumeW FindNextVolumeW FindVolumeClose GetTokenInformation; do
  checks=$((checks + 1)) && grep -qxF "$call" <<<"$imports" || fail "no import of $call"
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/signer.key" -out "$tmp/signer.pem" \
  -subj "/CN=Brackwen Test Signer" -days 30 2>/dev/null
"$ffu_pack" --sign "$tmp/signer.pem" "$tmp/signer.key" "$tmp/basic.img" "$images/signed.ffu" >/dev/null
wine_case "--check, signed" 0 "(Korvex) The hash table matches the catalog (SHA-256)." \
  --check "$win_images\\signed.ffu"
wine_case "--list, signed" 0 "Catalog         : signed by 'Brackwen Test Signer' (issued by 'Brackwen Test Signer'), member digest SHA-256" \
  --list "$win_images\\signed.ffu"
wine_case "--check, not signed" 0 "(Korvex) The catalog is not signed." --check "$win_images\\plain.ffu"
wine_case "--list, not signed" 0 "Catalog         : not signed, member digest SHA-256" \
  --list "$win_images\\plain.ffu"
wine_case "--extract" 0 "(Korvex) Successfully extracted the image file to '$win_images\\plain.img'." \
  --extract "$win_images\\plain.ffu" "$win_images\\plain.img"
checks=$((checks + 1))
cmp -s "$tmp/basic.img" "$images/plain.img" || fail "--extract: the file differs from the disk"
wine_case "--extract over a file" 73 "(Korvex) !ERROR! Failed to extract the image file." \
  --extract "$win_images\\plain.ffu" "$win_images\\plain.img"
wine_case "--extract to VHDX" 0 "(Korvex) Successfully extracted the image file to '$win_images\\plain.vhdx'." \
  --extract "$win_images\\plain.ffu" "$win_images\\plain.vhdx"
wine_case "--extract of a damaged image" 73 "(Korvex) !ERROR! Failed to extract the image file." \
  --extract "$win_images\\damaged.ffu" "$win_images\\damaged.vhdx"
checks=$((checks + 1))
[[ ! -e "$images/damaged.vhdx" ]] || fail "--extract of a damaged image: it left its file"
# The Linux build's file is the same but for each header's checksum and
# write ids and the disk id's value in the metadata.
if [[ -n "${BRACKWEN:-}" ]]; then
  checks=$((checks + 1))
  "$BRACKWEN" --extract "$images/plain.ffu" "$tmp/linux.vhdx" >/dev/null 2>&1
  python3 - "$images/plain.vhdx" "$tmp/linux.vhdx" <<'PY' || fail "--extract to VHDX: not the Linux build's file"
import sys
files = [bytearray(open(path, "rb").read()) for path in sys.argv[1:3]]
for f in files:
    for header in (64 << 10, 128 << 10):
        f[header + 4:header + 8] = bytes(4)
        f[header + 16:header + 48] = bytes(32)
    disk_id = (2 << 20) + (64 << 10) + 16
    f[disk_id:disk_id + 16] = bytes(16)
sys.exit(files[0] != files[1] or len(files[0]) < (4 << 20))
PY
fi

if ((failures > 0)); then
  echo "$failures of $checks checks failed" >&2
  exit 1
fi
echo "All $checks Windows smoke checks passed under Wine"
