#!/usr/bin/env bash
# The installed program: `cmake --install` into a DESTDIR under a prefix of
# its own (the tree, the manual pages, a mount run from there), then the
# Debian package: made, inspected, installed, run through its brackwen link
# and removed without a trace.
source "$(dirname "$0")/lib.sh"
: "${BUILD_DIR:?path of the build folder}"

# Past the name check a missing image fails with 73; the usage exits with 1.
runs_by_name() {
  run "$1" "$T/missing.ffu"
  check "$1 runs under its name" "Brackwen Tool v.1.0.15 73" "$(sed -n 4p "$OUT") $RC"
}

# man_page_ok PAGE COMMAND...: renders without warnings and describes every
# option that the command's usage or help text names.
man_page_ok() {
  local page=$1 option
  shift
  check "$page renders without warnings" "" "$(man --warnings -l "$page" 2>&1 >/dev/null)"
  man -l "$page" 2>/dev/null >"$T/page.txt"
  for option in $("$@" 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" "$T/page.txt" || fail "$page does not describe $option"
  done
}

DEST=$T/dest
DESTDIR=$DEST cmake --install "$BUILD_DIR" --prefix /opt/brackwen >/dev/null
B=$DEST/opt/brackwen
check "installed tree" "$(printf '%s\n' ./opt ./opt/brackwen ./opt/brackwen/bin \
  bin/Brackwen "bin/brackwen -> Brackwen" bin/ffu-pack share share/doc share/doc/brackwen \
  share/doc/brackwen/README.md share/man share/man/man1 share/man/man1/Brackwen.1 \
  share/man/man1/ffu-pack.1 | sed 's|^\([a-z]\)|./opt/brackwen/\1|' | sort)" \
  "$(cd "$DEST" && find . -mindepth 1 -printf '%p -> %l\n' | sed 's/ -> $//' | sort)"
cmp -s "$SOURCE_DIR/README.md" "$B/share/doc/brackwen/README.md" || fail "README differs"
man_page_ok "$B/share/man/man1/Brackwen.1" "$B/bin/Brackwen" --help
man_page_ok "$B/share/man/man1/ffu-pack.1" "$B/bin/ffu-pack"
run "$B/bin/Brackwen"
expect_output "installed usage" "${USAGE[@]}"
runs_by_name "$B/bin/brackwen"

FFU_PACK=$B/bin/ffu-pack make_ffu phone 24 512 "$IMAGE_DISK_ID" MainOS
run "$B/bin/Brackwen" "$T/phone.ffu"
expect_output "installed mount" "${BANNER[@]}" "(Korvex) Mounting the image file : '$T/phone.ffu'" \
  "$P/phone.mnt/" "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
diff -r "$T/phone.files" "$P/phone.mnt/" >/dev/null || fail "MainOS files differ"
cleanup_attached

# The package, on a machine where it is not installed yet.
if dpkg-query -W -f='${Status}' brackwen 2>/dev/null | grep -q installed; then
  fail "the brackwen package is installed already; remove it (dpkg -P brackwen) first"
  exit 1
fi
trap 'status=$?; dpkg -P brackwen >/dev/null 2>&1; (exit $status); finish' EXIT
deb=$(BUILD_DIR=$BUILD_DIR "$SOURCE_DIR/scripts/package" "$T/package")
check "package file" "$T/package/brackwen_1.0.15_$(dpkg --print-architecture).deb" "$deb"
dpkg-deb -I "$deb" >"$T/info.txt" || fail "dpkg-deb -I refused the package"
grep -q '^ Version: 1.0.15$' "$T/info.txt" || fail "package version: $(cat "$T/info.txt")"
# Depends: ntfs-3g and the package of every library the binaries link.
depends=$(dpkg-deb -f "$deb" Depends)
for binary in "$BRACKWEN" "$FFU_PACK"; do
  for library in $(objdump -p "$binary" | awk '$1 == "NEEDED" {print $2}'); do
    path=$(ldd "$binary" | awk -v l="$library" '$1 == l {print $3}')
    owner=$({ dpkg -S "$path" || dpkg -S "$(readlink -f "$path")" || true; } 2>/dev/null |
      head -n 1 | cut -d: -f1)
    echo "$depends" | grep -qw -- "${owner:-?}" || fail "$library ($owner) not in: $depends"
  done
done
echo "$depends" | grep -qw ntfs-3g || fail "no ntfs-3g in Depends: $depends"
check "package files" "$(printf 'root/root ./usr/%s\n' bin/Brackwen "bin/brackwen -> Brackwen" \
  bin/ffu-pack share/doc/brackwen/README.md share/man/man1/Brackwen.1 share/man/man1/ffu-pack.1)" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {for (i = 7; i <= NF; i++) $6 = $6 " " $i; print $2, $6}' | sort)"

dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
check "brackwen on the path" /usr/bin/brackwen "$(command -v brackwen)"
runs_by_name brackwen
check "man finds the page" /usr/share/man/man1/Brackwen.1 "$(man -w Brackwen 2>/dev/null)"
files=$(dpkg -L brackwen | grep -Ev '^/(\.|usr|usr/bin|usr/share|usr/share/doc|usr/share/man(/man1)?)$')
dpkg -P brackwen >/dev/null || fail "dpkg -P failed"
check "package gone" "" "$(dpkg-query -W -f='${Status}' brackwen 2>/dev/null)"
for file in $files; do
  if [ -e "$file" ] || [ -L "$file" ]; then fail "$file left behind"; fi
done
