#!/usr/bin/env bash
# A file named like the program's VHD files, planted in the user's real private
# folder (/tmp/brackwen-<uid>/), is still there, unchanged, after the unit,
# Linux layer and substitute-platform test binaries ran as ctest starts them
# (without the test filter, and without a TMPDIR of the user's). The folder is
# left as it was found.
set -euo pipefail
: "${BUILD_DIR:?path of the build folder}"
folder=/tmp/brackwen-$(id -u) made=
[ -e "$folder" ] || { mkdir -m 700 "$folder" && made=1; }
[ -d "$folder" ] && [ ! -L "$folder" ] && [ -O "$folder" ] || { echo "check: $folder is not this user's"; exit 1; }
plant=$folder/kmd$(printf %X $((RANDOM << 15 | RANDOM))).vhd
(set -C; echo $$ >"$plant") || { echo "check: $plant is there already"; exit 1; }
trap 'rm -f "$plant"; [ -z "$made" ] || rmdir "$folder"' EXIT
state() { echo "$(stat -c '%i %s %Y' "$plant" 2>/dev/null) $(cat "$plant" 2>/dev/null) $(stat -c '%a %u' "$folder")"; }
before=$(state)
ctest --test-dir "$BUILD_DIR" --show-only=json-v1 | python3 -c '
import json, sys
seen = {}
for test in json.load(sys.stdin)["tests"]:
    command = [a for a in test.get("command", []) if not a.startswith("--gtest_")]
    if command and command[-1].rsplit("/", 1)[-1] in ("unit_tests", "platform_linux_tests", "fake_platform_tests"):
        seen[command[-1]] = command
assert len(seen) == 3, "the test binaries are not all known"
print("\n".join("\t".join(c) for c in seen.values()))' >"$BUILD_DIR/isolation-commands"
while IFS=$'\t' read -r -a command; do
  env -u TMPDIR "${command[@]}" --gtest_brief=1 >"$BUILD_DIR/isolation-${command[-1]##*/}.log" 2>&1 ||
    echo "check: ${command[-1]##*/} failed (see its log in $BUILD_DIR)"
done <"$BUILD_DIR/isolation-commands"
[ "$before" = "$(state)" ] || { echo "FAIL: $plant or its folder changed: [$before] [$(state)]"; exit 1; }
echo "ok: $plant and its folder untouched"
