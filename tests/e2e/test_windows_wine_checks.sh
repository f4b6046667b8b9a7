#!/bin/bash
# Runs the Windows build's own checks (build-win/windows_checks.exe, made by
# scripts/build-windows) under Wine: path functions with both separators,
# backing-file forms, prints that keep the last error. Its exit code is the
# number of failed checks; each failure names itself on stderr.
set -uo pipefail

source_dir="${SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
exe="${WINDOWS_CHECKS_EXE:-$source_dir/build-win/windows_checks.exe}"
if [[ ! -f "$exe" ]]; then
  echo "FAIL: the Windows checks are missing: $exe (build them with scripts/build-windows)" >&2
  exit 1
fi
source "$(dirname "${BASH_SOURCE[0]}")/wine_prefix.sh"
start_wine_prefix brackwen-wine-checks

timeout 120 wine "$exe" >"$tmp/out" 2>"$tmp/err"
rc=$?
grep '^FAIL' "$tmp/err" >&2
if [[ $rc -ne 0 ]]; then
  echo "FAIL: $rc Windows checks failed" >&2
  exit 1
fi
# The prints of the last-error checks and the status line, as the Windows
# build writes them to a file.
if ! cmp -s "$tmp/out" <(printf 'wide line\r\nnarrow 1\r\ntext\r\nLoading .FFU image ... ok\r\nafter\r\n'); then
  echo "FAIL: printed lines differ" >&2
  cat -A "$tmp/out" >&2
  exit 1
fi
echo "ok: Windows checks passed"
