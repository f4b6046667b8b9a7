#!/usr/bin/env bash
# Runs are one at a time on the whole machine, whatever their temporary
# folder or the way they were started: two runs with different TMPDIRs
# started together (the second plainly, then through sudo) both end cleanly,
# one after the other, and exactly one disk stays attached, its file in
# place. A spawned mount helper inherits nothing but descriptors 0-2: a lock
# that the caller held while it ran is free once the caller lets it go.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
mkdir -m 755 "$T/other"
WAITING="(Korvex) Another mount is running; waiting for it to finish ..."

# The loop device of a disk (not of a partition volume) under $T, with its file.
attached_disks() {
  losetup -n -O NAME,BACK-FILE --raw | awk -v t="$T" 'index($2, t) == 1 {print $2}'
}

for second in plain sudo; do
  set +e
  "$BRACKWEN" "$T/phone.ffu" >"$T/a.txt" 2>&1 &
  a=$!
  if [ "$second" = sudo ]; then
    sudo env TMPDIR="$T/other" "$BRACKWEN" "$T/phone.ffu" >"$T/b.txt" 2>&1 &
  else
    TMPDIR=$T/other "$BRACKWEN" "$T/phone.ffu" >"$T/b.txt" 2>&1 &
  fi
  b=$!
  wait "$a"; rc_a=$?
  wait "$b"; rc_b=$?
  set -e
  check "$second: both runs succeed" "0 0" "$rc_a $rc_b"
  check "$second: exactly one run waited" 1 \
    "$(grep -lxF "$WAITING" "$T/a.txt" "$T/b.txt" | wc -l)"
  check "$second: one disk attached" 1 "$(attached_disks | wc -l)"
  kept=$(attached_disks)
  check "$second: its file is there" yes "$([ -f "$kept" ] && echo yes || echo no)"
  check "$second: one VHD file in the two folders" 1 \
    "$(ls "$T"/brackwen-0/kmd*.vhd "$T"/other/brackwen-0/kmd*.vhd 2>/dev/null | wc -l)"
  grep -q "Unable to query vhd file name" "$T/a.txt" "$T/b.txt" \
    && fail "$second: a run lost track of a disk"
done

# The caller holds a lock on descriptor 9 for the run; once the caller has
# ended, nothing (no file system driver started for the mount) still holds it.
set +e
( flock 9 && exec "$BRACKWEN" "$T/phone.ffu" >"$T/out.txt" 2>&1 ) 9>"$T/caller.lock"
RC=$?
set -e
check "run with the caller's lock held: exit code" 0 "$RC"
check "the caller's lock is free after the run" free \
  "$(flock -n "$T/caller.lock" true && echo free || echo held)"
holders=$( (find /proc/[0-9]*/fd -lname "$T/caller.lock" 2>/dev/null || true) | wc -l)
check "no process holds the caller's descriptor" 0 "$holders"
