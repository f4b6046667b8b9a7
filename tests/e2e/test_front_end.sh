#!/usr/bin/env bash
# The front end with the built binary: the name check, the usage text, the
# existence check and the refusal of file types other than FFU.
source "$(dirname "$0")/lib.sh"

FINAL="(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."

# Copies under other names answer with the usage text and exit code 1.
for name in brackwen Brackwen.old BRACKWEN Brackwe; do
  mkdir -p "$T/names"
  cp "$BRACKWEN" "$T/names/$name"
  run "$T/names/$name" "$T/whatever.ffu"
  expect_output "usage under the name $name" "${USAGE[@]}"
  check "exit code under the name $name" 1 "$RC"
done

# Under its own name, without an argument: the usage text too.
run "$BRACKWEN"
expect_output "no argument" "${USAGE[@]}"
check "exit code without argument" 1 "$RC"

# A folder with a dot in its name does not cut the program's name.
mkdir -p "$T/tools.old"
cp "$BRACKWEN" "$T/tools.old/Brackwen"
missing="$T/tools.old/missing.ffu"
run "$T/tools.old/Brackwen" "$missing" extra arguments are ignored
expect_output "missing file" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$missing'" \
  "!ERROR! The system cannot find the file specified.\r" \
  "\"$missing\"" \
  "(Korvex) !ERROR! Failed to load the Image : $missing" \
  "$FINAL"
check "exit code for a missing file" 73 "$RC"

# An empty path is a missing file.
run "$BRACKWEN" ""
expect_output "empty path" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : ''" \
  "!ERROR! The system cannot find the file specified.\r" \
  "\"\"" \
  "(Korvex) !ERROR! Failed to load the Image : " \
  "$FINAL"
check "exit code for an empty path" 73 "$RC"

# Existing files of other types: each refused with its own line.
while IFS='|' read -r file message; do
  path="$T/$file"
  mkdir -p "$(dirname "$path")"
  : >"$path"
  run "$BRACKWEN" "$path"
  expect_output "refused $file" "${BANNER[@]}" \
    "(Korvex) Mounting the image file : '$path'" \
    "$message" \
    "(Korvex) !ERROR! Failed to load the Image : $path" \
    "$FINAL"
  check "exit code for $file" 73 "$RC"
done <<'CASES'
phone.vhd|(Korvex) !ERROR! VHD files not yet supported.
phone.WIM|(Korvex) !ERROR! WIM files not yet supported.
phone.iso|(Korvex) !ERROR! Unrecognized file type .ISO not supported.
noextension|(Korvex) !ERROR! Unrecognized file type not supported.
old.images/image|(Korvex) !ERROR! Unrecognized file type .IMAGES/IMAGE not supported.
100%done.iso|(Korvex) !ERROR! Unrecognized file type .ISO not supported.
CASES

# A folder named x.ffu given with a trailing separator exists, and its
# "extension" runs to the separator.
mkdir -p "$T/x.ffu"
run "$BRACKWEN" "$T/x.ffu/"
expect_output "folder named x.ffu" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/x.ffu/'" \
  "(Korvex) !ERROR! Unrecognized file type .FFU/ not supported." \
  "(Korvex) !ERROR! Failed to load the Image : $T/x.ffu/" \
  "$FINAL"
check "exit code for the folder x.ffu" 73 "$RC"
