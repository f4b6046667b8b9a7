#!/usr/bin/env bash
# The zip of scripts/build-windows: one folder holding the Brackwen.exe built,
# the README and the text on running it elevated, with CR LF line ends.
set -euo pipefail
build=${SOURCE_DIR:?}/build-win
name=Brackwen-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")-windows-x64
zip=$build/$name.zip
text=$name/RUN-AS-ADMINISTRATOR.txt
expected=$(printf '%s\n' "$name/Brackwen.exe" "$name/README.md" "$text")
[ "$(unzip -Z1 "$zip" | grep -v '/$' | sort)" == "$expected" ] || { echo "FAIL: entries"; exit 1; }
unzip -p "$zip" "$name/Brackwen.exe" | cmp -s - "$build/Brackwen.exe" || { echo "FAIL: exe"; exit 1; }
unzip -p "$zip" "$name/README.md" | cmp -s - "$SOURCE_DIR/README.md" || { echo "FAIL: README"; exit 1; }
unzip -p "$zip" "$text" | grep -q "Run as administrator" || { echo "FAIL: text"; exit 1; }
[ "$(unzip -p "$zip" "$text" | grep -c $'[^\r]$')" == 0 ] || { echo "FAIL: bare line feeds"; exit 1; }
echo "zip: passed"
