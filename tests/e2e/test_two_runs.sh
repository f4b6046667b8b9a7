#!/usr/bin/env bash
# Two runs started together, of the same image or of two images: one mounts,
# the other says that it waits and, once the first has finished, sweeps the
# first run's disk and mounts its own. Both end cleanly, and exactly one
# disk stays attached: the one of the run that finished last.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
cp "$T/phone.ffu" "$T/tablet.ffu"
WAITING="(Korvex) Another mount is running; waiting for it to finish ..."

for round in 1 2 3; do
  second=phone
  [ "$round" -eq 3 ] && second=tablet
  set +e
  "$BRACKWEN" "$T/phone.ffu" >"$T/a.txt" 2>&1 &
  a=$!
  "$BRACKWEN" "$T/$second.ffu" >"$T/b.txt" 2>&1 &
  b=$!
  wait "$a"; rc_a=$?
  wait "$b"; rc_b=$?
  set -e
  check "round $round: both runs succeed" "0 0" "$rc_a $rc_b"
  waiters=$(grep -lxF "$WAITING" "$T/a.txt" "$T/b.txt" || true)
  check "round $round: exactly one run waited" 1 "$(echo "$waiters" | grep -c . || true)"
  last=${waiters:-$T/b.txt}
  # The run that waited finished last; it swept the other run's disk.
  swept=$(sed -n "s/^(Korvex) !WARNING! Successfully detached vhd file : '\(.*\)'$/\1/p" "$last")
  [ -n "$swept" ] || fail "round $round: the waiting run swept nothing: $(cat "$last")"
  check "round $round: the swept VHD is gone" no "$([ -e "$swept" ] && echo yes || echo no)"
  check "round $round: one VHD left" 1 "$(vhd_files | wc -l)"
  kept=$(vhd_files)
  [ "$kept" != "$swept" ] || fail "round $round: the last run's own VHD was swept"
  check "round $round: its disk and two volumes, nothing else" 3 "$(test_loops | wc -w)"
  check "round $round: the kept disk is the attached one" yes \
    "$([ -n "$(loop_of "$kept")" ] && echo yes || echo no)"
  folder=$T/phone.mnt/
  [ "$last" = "$T/b.txt" ] && folder=$T/$second.mnt/
  check "round $round: one mount, on the last run's work folder" "$folder" \
    "$(awk -v t="$T" 'index($5, t) == 1 {print $5 "/"}' /proc/self/mountinfo)"
  diff -r "$T/phone.files" "$folder" >/dev/null && echo "ok: round $round: MainOS files" \
    || fail "round $round: MainOS files differ"
  check "round $round: no lock file left" "" "$(find "$T" -name '*.lock')"
  grep -q "Unable to query vhd file name" "$T/a.txt" "$T/b.txt" \
    && fail "round $round: a run lost track of a disk"
done
true
