#!/usr/bin/env bash
# Two runs started while the test holds the machine's lock, of the same image
# or of two images: both say that they wait; once it is free one mounts, and
# the other, once the first has finished, sweeps the first run's disk and
# mounts its own. Both end cleanly, and exactly one
# disk stays attached: the one of the run that finished last.
source "$(dirname "$0")/lib.sh"

make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
cp "$T/phone.ffu" "$T/tablet.ffu"

for round in 1 2 3; do
  second=phone
  [ "$round" -eq 3 ] && second=tablet
  before=$(vhd_files)
  hold_run_lock
  "$BRACKWEN" "$T/phone.ffu" >"$T/a.txt" 2>&1 8>&- &
  a=$!
  "$BRACKWEN" "$T/$second.ffu" >"$T/b.txt" 2>&1 8>&- &
  b=$!
  until_waiting "$a $b" "$T/a.txt" "$T/b.txt"
  release_run_lock
  rc_a=0 && wait "$a" || rc_a=$?
  rc_b=0 && wait "$b" || rc_b=$?
  check "round $round: both runs succeed" "0 0" "$rc_a $rc_b"
  check "round $round: both runs waited" 2 "$(grep -lxF "$WAITING" "$T"/[ab].txt | wc -l)"
  # The run that mounted last swept the other run's disk (the first one only
  # the disk of the round before).
  last= swept=
  for out in "$T/a.txt" "$T/b.txt"; do
    found=$(sed -n "s/^(Korvex) !WARNING! Successfully detached vhd file : '\(.*\)'$/\1/p" "$out" |
      grep -vxF -- "${before:-/}" || true)
    [ -z "$found" ] || { last=$out swept=$found; }
  done
  [ -n "$swept" ] || fail "round $round: no run swept the other's disk: $(cat "$T"/[ab].txt)"
  last=${last:-$T/b.txt}
  check "round $round: the swept VHD is gone" no "$([ -e "$swept" ] && echo yes || echo no)"
  check "round $round: one VHD left" 1 "$(vhd_files | wc -l)"
  kept=$(vhd_files)
  [ "$kept" != "$swept" ] || fail "round $round: the last run's own VHD was swept"
  check "round $round: its disk and two volumes, nothing else" 3 "$(test_loops | wc -w)"
  check "round $round: the kept disk is the attached one" yes \
    "$([ -n "$(loop_of "$kept")" ] && echo yes || echo no)"
  folder=$P/phone.mnt/
  [ "$last" = "$T/b.txt" ] && folder=$P/$second.mnt/
  check "round $round: one mount, on the last run's work folder" "$folder" \
    "$(awk -v t="$T" 'index($5, t) == 1 {print $5 "/"}' /proc/self/mountinfo)"
  diff -r "$T/phone.files" "$folder" >/dev/null && echo "ok: round $round: MainOS files" \
    || fail "round $round: MainOS files differ"
  check "round $round: no lock file left" "" "$(find "$T" -name '*.lock')"
  grep -q "Unable to query vhd file name" "$T/a.txt" "$T/b.txt" \
    && fail "round $round: a run lost track of a disk"
done
true
