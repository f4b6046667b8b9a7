#!/usr/bin/env bash
# The installed program: `cmake --install` into a DESTDIR under another
# prefix, its tree, its manual pages and a mount run from there; then the
# Debian package, installed with dpkg, run through its brackwen link and
# removed again without a trace.
source "$(dirname "$0")/lib.sh"
: "${BUILD_DIR:?path of the build folder}"

FINAL="(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."

# missing_file_run PROGRAM: under its own name the program gets past the name
# check and fails on the missing image; under another it prints the usage.
missing_file_run() {
  local missing=$T/missing.ffu
  run "$1" "$missing"
  expect_output "$1 runs under its name" "${BANNER[@]}" \
    "(Korvex) Mounting the image file : '$missing'" \
    "!ERROR! The system cannot find the file specified.\r" \
    "\"$missing\"" \
    "(Korvex) !ERROR! Failed to load the Image : $missing" \
    "$FINAL"
  check "$1 exit code" 73 "$RC"
}

# man_page_ok PAGE COMMAND...: renders without warnings and names every option
# that the command's usage or help text lists.
man_page_ok() {
  local page=$1 option
  shift
  check "$page renders without warnings" "" "$(man --warnings -l "$page" 2>&1 >/dev/null)"
  man -l "$page" 2>/dev/null >"$T/page.txt"
  for option in $("$@" 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" "$T/page.txt" || fail "$page does not describe $option"
  done
}

# --- cmake --install into a DESTDIR, under a prefix of its own --------------
DEST=$T/dest
DESTDIR=$DEST cmake --install "$BUILD_DIR" --prefix /opt/brackwen >/dev/null
B=$DEST/opt/brackwen
check "installed tree" "$(printf '%s\n' bin bin/Brackwen bin/brackwen bin/ffu-pack share \
  share/doc share/doc/brackwen share/doc/brackwen/README.md share/man share/man/man1 \
  share/man/man1/Brackwen.1 share/man/man1/ffu-pack.1)" \
  "$(cd "$B" && find . -mindepth 1 | sed 's|^\./||' | sort)"
check "nothing outside the prefix" "./opt" "$(cd "$DEST" && find . -mindepth 1 -maxdepth 1)"
check "brackwen is a link to Brackwen" Brackwen "$(readlink "$B/bin/brackwen")"
cmp -s "$SOURCE_DIR/README.md" "$B/share/doc/brackwen/README.md" || fail "README differs"
man_page_ok "$B/share/man/man1/Brackwen.1" "$B/bin/Brackwen" --help
man_page_ok "$B/share/man/man1/ffu-pack.1" "$B/bin/ffu-pack"

run "$B/bin/Brackwen"
expect_output "installed usage" "${USAGE[@]}"
check "installed usage exit code" 1 "$RC"
missing_file_run "$B/bin/brackwen"

# One mount with the installed ffu-pack and the installed program.
FFU_PACK=$B/bin/ffu-pack make_ffu phone 24 512 "$IMAGE_DISK_ID" MainOS
run "$B/bin/Brackwen" "$T/phone.ffu"
expect_output "installed mount" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/phone.ffu'" \
  "$P/phone.mnt/" \
  "(Korvex) Successfully mounted an image file."
check "installed mount exit code" 0 "$RC"
diff -r "$T/phone.files" "$P/phone.mnt/" >/dev/null && echo "ok: MainOS files" ||
  fail "MainOS files differ"
cleanup_attached

# --- The Debian package -------------------------------------------------------
if dpkg-query -W -f='${Status}' brackwen 2>/dev/null | grep -q installed; then
  fail "the brackwen package is installed already; remove it (dpkg -P brackwen) first"
  exit 1
fi
remove_package() { dpkg -P brackwen >/dev/null 2>&1 || true; }
trap 'status=$?; remove_package; (exit $status); finish' EXIT

deb=$(BUILD_DIR=$BUILD_DIR "$SOURCE_DIR/scripts/package" "$T/package")
check "package file" "$T/package/brackwen_1.0.15_$(dpkg --print-architecture).deb" "$deb"
check "package version" 1.0.15 "$(dpkg-deb -f "$deb" Version)"
# Every library the binaries link is a dependency, by its package.
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends" | grep -qw ntfs-3g || fail "no ntfs-3g in Depends: $depends"
for binary in "$BRACKWEN" "$FFU_PACK"; do
  for library in $(objdump -p "$binary" | awk '$1 == "NEEDED" {print $2}'); do
    path=$(ldd "$binary" | awk -v l="$library" '$1 == l {print $3}')
    owner=$({ dpkg -S "$path" || dpkg -S "$(readlink -f "$path")" || true; } 2>/dev/null |
      head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || fail "no package owns $library ($path)"
    echo "$depends" | grep -qw -- "$owner" || fail "$library ($owner) not in Depends: $depends"
  done
done
dpkg-deb -I "$deb" >/dev/null || fail "dpkg-deb -I refused the package"
# Its files (not folders), with their owners.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {line = $2; for (i = 6; i <= NF; i++) line = line " " $i; print line}' |
  sort >"$T/contents.txt"
check "package contents" "$(printf '%s\n' "root/root ./usr/bin/Brackwen" \
  "root/root ./usr/bin/brackwen -> Brackwen" "root/root ./usr/bin/ffu-pack" \
  "root/root ./usr/share/doc/brackwen/README.md" "root/root ./usr/share/man/man1/Brackwen.1" \
  "root/root ./usr/share/man/man1/ffu-pack.1")" "$(cat "$T/contents.txt")"

dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
check "brackwen on the path" /usr/bin/brackwen "$(command -v brackwen)"
missing_file_run brackwen
check "man finds the page" /usr/share/man/man1/Brackwen.1 "$(man -w Brackwen 2>/dev/null)"

files=$(dpkg -L brackwen | grep -v '^/\.$')
dpkg -P brackwen >/dev/null || fail "dpkg -P failed"
check "package gone" "" "$(dpkg-query -W -f='${Status}' brackwen 2>/dev/null | grep installed)"
for file in $files; do
  case $file in /usr | /usr/bin | /usr/share | /usr/share/doc | /usr/share/man | /usr/share/man/man1) continue ;; esac
  if [ -e "$file" ] || [ -L "$file" ]; then fail "$file left behind"; fi
done
