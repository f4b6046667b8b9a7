#!/usr/bin/env bash
# Another local user against the program run as root: what they put in the
# shared temporary folder is refused or does not matter, they cannot read the
# VHD file or the mounted volume unless the run was made for them through
# sudo, and swapping the work folder for a link never moves the mount out of
# it.
source "$(dirname "$0")/lib.sh"

NOBODY=65534
as_nobody() { setpriv --reuid=$NOBODY --regid=$NOBODY --clear-groups "$@"; }
as_stranger() { setpriv --reuid=65533 --regid=65533 --clear-groups "$@"; }
can() { if "$@" >/dev/null 2>&1; then echo yes; else echo no; fi; }

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
FFU=$T/phone.ffu
MNT=$P/phone.mnt/
# The test's folder stands for /tmp: open to every user, sticky.
chmod 1777 "$T"
mkdir -m 0755 "$T/decoy"

ok_lines() {
  OK_LINES=("${BANNER[@]}" "(Korvex) Mounting the image file : '$FFU'" "$@" "$MNT"
            "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file.")
}

# --- what another user puts in the private folder's place is refused --------
refused_lines() {  # CODE REASON
  local text
  case $1 in 5) text="Access is denied." ;; *) text="The directory name is invalid." ;; esac
  REFUSED=("${BANNER[@]}" "(Korvex) Mounting the image file : '$FFU'"
           "!ERROR! The temporary folder '$P/' is refused: $2."
           "ERROR! GetTempPath failed : ($1)"
           "!ERROR! $text\r" ""
           "(Korvex) !ERROR! Failed to mount '$FFU'"
           "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive.")
}
# Every entry of the test's folder but the run's own output files.
state() {
  find "$T" -maxdepth 2 ! -name out.txt ! -name err.txt ! -name expected.txt \
    -printf '%p %y %u %m %s\n' | sort
}
while IFS='|' read -r name maker setup code reason; do
  rm -rf "$P"
  if [ "$maker" = nobody ]; then as_nobody sh -c "$setup"; else sh -c "$setup"; fi
  before=$(state)
  run "$BRACKWEN" "$FFU"
  refused_lines "$code" "$reason"
  expect_output "$name: refused with its reason" "${REFUSED[@]}"
  check "$name: exit code" 73 "$RC"
  check "$name: nothing made or changed" "$before" "$(state)"
  check "$name: nothing attached" 0 "$(test_loops | wc -w)"
  # --detach sweeps no files it cannot reach and says so.
  run "$BRACKWEN" --detach
  check "$name: --detach fails" "73 0 1" "$RC $(grep -c '^(Korvex) Swept' "$OUT") $(grep -cxF \
    "!ERROR! The temporary folder '$P/' is refused: $reason." "$OUT")"
done <<EOF
folder made by another user|nobody|mkdir -m 0700 '$P'|5|it belongs to user $NOBODY, not to user 0
link to a root folder|nobody|ln -s '$T/decoy' '$P'|267|it is a symbolic link
file|nobody|echo x > '$P'|267|it is not a folder
root's folder open to all|root|mkdir -m 0777 '$P'|5|other users can write to it
EOF
rm -rf "$P"

# --- links named like the program's files do not stop a run ------------------
as_nobody /usr/bin/python3 - "$T" <<'PY'
import os, sys
for number in range(1, 0x10000):
    for extension in ("tmp", "vhd"):
        os.symlink("/nonexistent", os.path.join(sys.argv[1], "kmd%X.%s" % (number, extension)))
PY
run "$BRACKWEN" "$FFU"
ok_lines
expect_output "links named like VHD files: the run mounts" "${OK_LINES[@]}"
check "links named like VHD files: exit code" 0 "$RC"
find "$T" -maxdepth 1 -name 'kmd*' -type l -delete

# --- a plain root run: root alone reads the files ---------------------------
VHD=$(vhd_files | tail -n 1)
check "private folder mode" 700 "$(stat -c %a "$P")"
check "VHD file mode" 600 "$(stat -c %a "$VHD")"
diff -r "$T/phone.files" "$MNT" >/dev/null && echo "ok: root reads the volume" || fail "root cannot read the volume"
options=$(findmnt -n -o OPTIONS "$MNT")
check "mounted nosuid,nodev, not for other users" "yes yes no" \
  "$(for o in nosuid nodev allow_other; do [[ ",$options," == *",$o,"* ]] && printf yes || printf no; [ $o = allow_other ] || printf ' '; done)"
check "another user reads the VHD" no "$(can as_nobody head -c 1 "$VHD")"
check "another user lists the work folder" no "$(can as_nobody ls "$MNT")"
# Even with the private folder opened to them, the volume stays closed.
chmod 0711 "$P"
check "another user lists the volume past the private folder" no "$(can as_nobody ls "$MNT")"
check "another user reads a file of the volume" no "$(can as_nobody cat "$MNT/readme.txt")"
chmod 0700 "$P"

# --- a run made through sudo: the user who ran sudo reads the volume --------
run env SUDO_UID=$NOBODY SUDO_GID=$NOBODY SUDO_USER=nobody "$BRACKWEN" "$FFU"
ok_lines "(Korvex) !WARNING! Successfully detached vhd file : '$VHD'"
expect_output "run for a sudo user" "${OK_LINES[@]}"
check "run for a sudo user: exit code" 0 "$RC"
VHD=$(vhd_files | tail -n 1)
check "private folder lets the sudo user through" 711 "$(stat -c %a "$P")"
check "work folder belongs to the sudo user" "$NOBODY $NOBODY 700" "$(stat -c '%u %g %a' "$MNT")"
as_nobody diff -r "$T/phone.files" "$MNT" >/dev/null && echo "ok: the sudo user reads every file" \
  || fail "the sudo user cannot read the volume"
check "the sudo user writes to the volume" yes "$(can as_nobody sh -c "echo x > '$MNT/new.txt'")"
check "the sudo user reads the VHD" no "$(can as_nobody head -c 1 "$VHD")"
check "a third user lists the volume" no "$(can as_stranger ls "$MNT")"
check "a third user reads a file of the volume" no "$(can as_stranger cat "$MNT/readme.txt")"
check "a third user lists the private folder" no "$(can as_stranger ls "$P")"
cleanup_attached
rm -f "$P"/kmd*.vhd

# --- staging folders of a killed run are cleared; one in use is not ---------
mkdir "$P/staging-killed" "$P/staging-in-use"
mount --bind "$P/staging-killed" "$P/staging-killed"
: >"$P/staging-killed.lock"
: >"$P/staging-in-use.lock"
flock "$P/staging-in-use.lock" sleep 60 &
holder=$!
run "$BRACKWEN" "$FFU"
ok_lines
expect_output "staging folders left by others: the run mounts" "${OK_LINES[@]}"
check "the killed run's staging folder is gone" "no no" \
  "$(mountpoint -q "$P/staging-killed" && printf yes || printf no) $([ -e "$P/staging-killed" ] && echo yes || echo no)"
check "the staging folder in use stays" "yes yes" \
  "$([ -d "$P/staging-in-use" ] && printf yes || printf no) $([ -e "$P/staging-in-use.lock" ] && echo yes || echo no)"
check "the run leaves no staging folder of its own" "$P/staging-in-use" \
  "$(find "$P" -maxdepth 1 -name 'staging-*' ! -name '*.lock' | sort)"
kill "$holder"
wait "$holder" 2>/dev/null || true
rm -rf "$P/staging-in-use" "$P/staging-in-use.lock"
cleanup_attached
rm -f "$P"/kmd*.vhd

# --- swapping the work folder for a link while the program runs -------------
# Another user cannot even try: the private folder is closed to them.
mkdir "$P/race.mnt"
ln -s "$T/decoy" "$P/race.link"
cp "$FFU" "$T/race.ffu"
SWAP=$T/swap.py
cat >"$SWAP" <<'PY'
# Exchanges two names over and over, a few thousand times a second, until the
# stop file appears, the time is up or the folder has become a mount point
# (which the kernel no longer renames). After the first exchange it makes the
# stop file's name + ".ready". Prints how many exchanges it made; fails at any
# other refusal.
import ctypes, errno, os, sys, time
libc = ctypes.CDLL(None, use_errno=True)
first, second, stop, seconds = sys.argv[1].encode(), sys.argv[2].encode(), sys.argv[3], float(sys.argv[4])
count, end = 0, time.monotonic() + seconds
while time.monotonic() < end and not os.path.exists(stop):
    if libc.renameat2(-100, first, -100, second, 2) != 0:
        if ctypes.get_errno() == errno.EBUSY:
            break
        sys.exit("exchange refused: " + os.strerror(ctypes.get_errno()))
    count += 1
    if count == 1:
        open(stop + ".ready", "w").close()
    time.sleep(0.0002)
print(count)
PY
check "another user cannot swap in the private folder" no \
  "$(can as_nobody /usr/bin/python3 "$SWAP" "$P/race.mnt" "$P/race.link" "$T/stop" 1)"

# Root itself swapping stands for any writer of the folder: the mount goes on
# the folder the program opened, whatever name it has by then, never through
# the link.
RUNS=12
mounted=0
refused=0
for ((i = 1; i <= RUNS; i++)); do
  rm -f "$T/stop" "$T/stop.ready"
  /usr/bin/python3 "$SWAP" "$P/race.mnt" "$P/race.link" "$T/stop" 20 >"$T/swaps.txt" &
  swapper=$!
  waited=0
  while [ ! -e "$T/stop.ready" ] && [ "$waited" -lt 100 ]; do sleep 0.1; waited=$((waited + 1)); done
  run "$BRACKWEN" "$T/race.ffu"
  touch "$T/stop"
  wait "$swapper" || fail "race $i: the swapper failed"
  check "race $i: the names were exchanged during the run" yes \
    "$([ "$(cat "$T/swaps.txt")" -gt 0 ] && echo yes || echo no)"
  outside=$(awk -v t="$T/" -v p="$P/" 'index($5, t) == 1 && index($5, p) != 1 {print $5}' /proc/self/mountinfo)
  check "race $i: no mount outside the private folder" "" "$outside"
  check "race $i: the decoy is untouched" "0" "$(ls -A "$T/decoy" | wc -l)"
  if [ "$RC" -eq 0 ]; then
    mounted=$((mounted + 1))
    # The mount is on the folder the program opened, under whichever of the
    # two names it had when the exchanges stopped.
    on=$(awk -v p="$P/race." 'index($5, p) == 1 {print $5}' /proc/self/mountinfo)
    check "race $i: one mount, on the work folder itself" yes \
      "$([ "$(wc -l <<<"$on")" -eq 1 ] && [ -d "$on" ] && [ ! -L "$on" ] && echo yes || echo no)"
    check "race $i: the volume's files" "$(cat "$T/phone.files/readme.txt")" "$(cat "$on/readme.txt")"
  else
    refused=$((refused + 1))
  fi
  echo "race $i: exit code $RC after $(cat "$T/swaps.txt") exchanges; $(grep -m 1 '^!ERROR!' "$OUT" || true)"
  cleanup_attached
  rm -f "$P"/kmd*.vhd
  if [ -L "$P/race.mnt" ]; then
    mv -T "$P/race.mnt" "$P/race.tmp" && mv -T "$P/race.link" "$P/race.mnt" && mv -T "$P/race.tmp" "$P/race.link"
  fi
done
echo "race: $RUNS runs, $mounted mounted, $refused refused the swapped folder"
