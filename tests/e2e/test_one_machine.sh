#!/usr/bin/env bash
# One run at a time on the whole machine: two runs with different TMPDIRs
# (the second plainly, then through sudo) started while the test holds the
# machine's lock both wait for it, then succeed one after the other, and one
# disk stays attached with its file. A lock the
# caller held during a run is free once the caller is gone: the spawned mount
# helper got descriptors 0-2 only.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
mkdir -m 755 "$T/other"
disks() { losetup -n -O NAME,BACK-FILE --raw | awk -v t="$T" 'index($2, t) == 1 {print $2}'; }

for second in env sudo; do
  hold_run_lock
  "$BRACKWEN" "$T/phone.ffu" >"$T/a.txt" 2>&1 8>&- &
  a=$!
  $second env TMPDIR="$T/other" "$BRACKWEN" "$T/phone.ffu" >"$T/b.txt" 2>&1 8>&- &
  b=$!
  until_waiting "$a $b" "$T/a.txt" "$T/b.txt"
  release_run_lock
  rc_a=0 && wait "$a" || rc_a=$?
  rc_b=0 && wait "$b" || rc_b=$?
  check "$second: both runs succeed" "0 0" "$rc_a $rc_b"
  check "$second: both waited for the machine's lock" 2 "$(grep -lxF "$WAITING" "$T"/[ab].txt | wc -l)"
  check "$second: one disk attached, its file there" "1 yes" \
    "$(disks | wc -l) $([ -f "$(disks)" ] && echo yes)"
done

RC=0 && ( flock 9 && exec "$BRACKWEN" "$T/phone.ffu" >"$T/out.txt" 2>&1 ) 9>"$T/caller.lock" || RC=$?
check "the run with the caller's lock succeeds, and the lock is free after it" "0 free" \
  "$RC $(flock -n "$T/caller.lock" true && echo free)"
