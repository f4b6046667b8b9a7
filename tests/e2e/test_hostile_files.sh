#!/usr/bin/env bash
# Hostile input never costs the user the mount that stands: a partition that
# lies over the GPT, off the disk, outside the usable sectors or over another
# partition is refused before the sweep. Names made of escape sequences and
# bidirectional overrides reach the terminal as '?'. Output that cannot be
# written (a full device, a pipe no one reads, a Ctrl-C on the pipeline)
# changes neither the run nor its exit code.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
# Copies of the disk with MainOS's entry (the second) moved, checksums mended.
python3 - "$T" <<'PY'
import struct, sys, zlib
t = sys.argv[1]
image = open(f"{t}/phone.img", "rb").read()
def moved(name, place):
    d = bytearray(image)
    entries, count, size = struct.unpack_from("<QII", d, 512 + 72)
    efi_last = struct.unpack_from("<Q", d, entries * 512 + 40)[0]
    first, last = struct.unpack_from("<QQ", d, entries * 512 + size + 32)
    struct.pack_into("<QQ", d, entries * 512 + size + 32, *place(first, last, efi_last))
    struct.pack_into("<I", d, 512 + 88, zlib.crc32(d[entries * 512:entries * 512 + count * size]))
    struct.pack_into("<I", d, 512 + 16, 0)
    struct.pack_into("<I", d, 512 + 16, zlib.crc32(d[512:512 + 92]))
    open(f"{t}/{name}.img", "wb").write(d)
moved("over-gpt", lambda f, l, e: (0, l))
moved("off-disk", lambda f, l, e: (f, 70000))
moved("over-backup", lambda f, l, e: (f, 65535))
moved("overlap", lambda f, l, e: (e, l))
PY
TABLE="(Korvex) !ERROR! Unable to read the partition table of store 1 because its partition 2 'MainOS'"
while IFS='|' read -r name line; do
  "$FFU_PACK" "$T/$name.img" "$T/$name.ffu" >/dev/null
  run "$BRACKWEN" "$T/phone.ffu"
  before=$(system_state)
  run "$BRACKWEN" "$T/$name.ffu"
  check "$name: exit code, its line, the earlier mount stands" "73 1 $before" \
    "$RC $(grep -cxF "$line" "$OUT") $(system_state)"
done <<LINES
over-gpt|$TABLE (sectors 0 to 65502) lies over the GPT.
off-disk|$TABLE (sectors 18432 to 70000) ends beyond the disk's last sector (65535).
over-backup|$TABLE (sectors 18432 to 65535) lies outside the sectors its GPT gives to partitions (34 to 65502).
overlap|(Korvex) !ERROR! The partition MainOS cannot be mounted because it overlaps the partition EFIESP (sectors 2048 to 18431).
LINES
check "a full output device: exit code" 73 "$("$BRACKWEN" "$T/overlap.ffu" >/dev/full; echo $?)"

# A work folder, an image path and a partition name that would retitle, clear
# and reverse the terminal: a mount, the sweep of it, a missing file.
EVIL=$'\e]0;PWNED\a\e[2J\xe2\x80\xae' SHOWN='?]0;PWNED??[2J?'
mkdir "$T/tmp$EVIL" && cp "$T/phone.ffu" "$T/x$EVIL.ffu"
for args in "$T/x$EVIL.ffu" "$T/x$EVIL.ffu" "--partition|x$EVIL|$T/phone.ffu" "--list|$T/y$EVIL.ffu"; do
  IFS='|' read -ra argv <<<"$args"
  TMPDIR="$T/tmp$EVIL" "$BRACKWEN" "${argv[@]}" >>"$T/evil.txt" 2>&1 || true
done
check "raw names: control and override characters printed" 0 \
  "$(LC_ALL=C grep -c $'[\x01-\x09\x0b\x0c\x0e-\x1f\x7f]\|\xe2\x80[\xaa-\xae]\|\xe2\x81[\xa6-\xa9]' "$T/evil.txt")"
counts=()
for text in "image file : '$T/x$SHOWN.ffu'" "$T/tmp$SHOWN/brackwen-0/x$SHOWN.mnt/" \
            "detached vhd file : '$T/tmp$SHOWN/brackwen-0/kmd" "no partition named x$SHOWN;" \
            "\"$T/y$SHOWN.ffu\""; do
  counts+=("$(grep -cF "$text" "$T/evil.txt" || true)")
done
check "raw names: image path, work folder, VHD path, partition name, missing file" \
  "2 2 1 1 1" "${counts[*]}"
cleanup_attached

# Output that no one reads: a mount goes on to its end; a run interrupted
# while it waits for the machine's lock (held here) says so into the broken
# pipe and still ends as an interrupted run does.
LOCK=/run/brackwen/Brackwen.Mount.lock
mkdir -p /run/brackwen && exec 8>"$LOCK" && flock 8
trap 'status=$?; rm -f "$LOCK"; (exit $status); finish' EXIT
before=$(system_state)
codes=$(python3 - "$BRACKWEN" "$T/phone.ffu" <<'PY'
import os, signal, subprocess, sys
read, write = os.pipe()
run = subprocess.Popen(sys.argv[1:], stdout=write)
os.close(write)
seen = b""
while b"waiting for it to finish" not in seen:
    seen += os.read(read, 4096) or sys.exit("the run ended before it waited")
os.close(read)
run.send_signal(signal.SIGINT)
print(run.wait())
PY
)
check "Ctrl-C on a pipeline: exit code, nothing changed" "73 $before" "$codes $(system_state)"
exec 8>&- && rm -f "$LOCK"
check "a pipe no one reads: exit code, mounted" "0 1" "$(python3 -c '
import os, subprocess, sys
read, write = os.pipe(); os.close(read)
print(subprocess.call(sys.argv[1:], stdout=write))' "$BRACKWEN" "$T/phone.ffu") \
$(findmnt -n "$P/phone.mnt" | wc -l)"
