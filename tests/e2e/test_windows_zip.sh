#!/usr/bin/env bash
# The Windows zip that scripts/build-windows makes: one folder holding
# Brackwen.exe as built, the README, and the text on running it elevated with
# the line ends Windows editors expect.
set -euo pipefail
source_dir="${SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
build=$source_dir/build-win
if [ ! -f "$build/CPackConfig.cmake" ]; then
  echo "FAIL: the Windows build is missing: $build (scripts/build-windows makes it)"
  exit 1
fi
name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
python3 - "$build/$name.zip" "$name" "$build/Brackwen.exe" "$source_dir/README.md" <<'PY'
import sys, zipfile
path, top, exe, readme = sys.argv[1:]
errors = []
try:
    archive = zipfile.ZipFile(path)
except OSError as error:
    sys.exit("FAIL: %s" % error)
files = sorted(n for n in archive.namelist() if not n.endswith("/"))
wanted = sorted(top + "/" + n for n in ("Brackwen.exe", "README.md", "RUN-AS-ADMINISTRATOR.txt"))
if files != wanted:
    sys.exit("FAIL: the zip holds %s, not %s" % (files, wanted))
if archive.read(top + "/Brackwen.exe") != open(exe, "rb").read():
    errors.append("its Brackwen.exe is not the one built")
if archive.read(top + "/README.md") != open(readme, "rb").read():
    errors.append("its README is not the checkout's")
text = archive.read(top + "/RUN-AS-ADMINISTRATOR.txt")
if b"\n" in text.replace(b"\r\n", b""):
    errors.append("the text has line feeds without carriage returns")
if b"Run as administrator" not in text or b"@" in text:
    errors.append("the text does not say how to run it elevated, or lacks its version")
for error in errors:
    print("FAIL: " + error)
print("zip: " + ("FAILED" if errors else "passed"))
sys.exit(1 if errors else 0)
PY
