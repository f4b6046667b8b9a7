#!/usr/bin/env bash
# The unit, Linux layer and substitute-platform tests see nothing of the
# user's own runs: a file named like the program's VHD files, planted in the
# user's real private folder (/tmp/brackwen-<uid>/), is still there, unchanged,
# after they ran as ctest runs them, and the folder keeps its mode. The folder
# is left as it was found: made and removed here when it was missing, else
# only the planted file goes.
set -euo pipefail
: "${BUILD_DIR:?path of the build folder}" "${SOURCE_DIR:?path of the source tree}"

folder=/tmp/brackwen-$(id -u)
made=
if [ ! -e "$folder" ] && mkdir -m 700 "$folder" 2>/dev/null; then made=1; fi
if [ -L "$folder" ] || [ ! -d "$folder" ] || [ ! -O "$folder" ]; then
  echo "check: $folder is not a folder of this user"
  exit 1
fi
plant=
until [ -n "$plant" ]; do
  plant=$folder/kmd$(printf '%X' $((RANDOM * 32768 + RANDOM))).vhd
  (set -C; echo "planted by $$" >"$plant") 2>/dev/null || plant=
done
cleanup() {
  rm -f "$plant"
  if [ -n "$made" ]; then rmdir "$folder" || echo "check: $folder kept: something else is in it"; fi
}
trap cleanup EXIT

before="$(stat -c '%i %s %Y' "$plant") $(stat -c '%a %u' "$folder")"
# Each test binary whole, started as ctest starts its tests (its command
# without the test filter), in the user's environment: no TMPDIR, so /tmp.
commands=$(ctest --test-dir "$BUILD_DIR" --show-only=json-v1 | python3 -c '
import json, sys
seen = set()
for test in json.load(sys.stdin)["tests"]:
    command = [a for a in test.get("command", []) if not a.startswith("--gtest_")]
    binary = command[-1] if command else ""
    if binary.rsplit("/", 1)[-1] in ("unit_tests", "platform_linux_tests",
                                     "fake_platform_tests") and binary not in seen:
        seen.add(binary)
        print("\t".join(command))')
[ "$(wc -l <<<"$commands")" -eq 3 ] || { echo "check: the test binaries are not all known"; exit 1; }
while IFS=$'\t' read -r -a command; do
  name=${command[-1]##*/}
  env -u TMPDIR "${command[@]}" --gtest_brief=1 >"$BUILD_DIR/isolation-$name.log" 2>&1 ||
    echo "check: $name failed (see $BUILD_DIR/isolation-$name.log)"
done <<<"$commands"
after="$(stat -c '%i %s %Y' "$plant" 2>/dev/null) $(stat -c '%a %u' "$folder")"
if [ "$before" != "$after" ] || [ "$(cat "$plant" 2>/dev/null)" != "planted by $$" ]; then
  echo "FAIL: $plant or its folder changed: [$before] became [$after]"
  exit 1
fi
echo "ok: $plant and its folder untouched"
