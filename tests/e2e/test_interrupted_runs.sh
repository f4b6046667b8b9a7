#!/usr/bin/env bash
# SIGINT, SIGTERM and SIGHUP at moments of a large mount (the run is stopped
# there, signalled and let go on): it says so, removes what it made, exits 73.
source "$(dirname "$0")/lib.sh"

# MainOS holds 160 MiB of random bytes, so that the copy lasts.
"$SOURCE_DIR/scripts/make-sample-disk" "$T/big.img" 224 512 "$IMAGE_DISK_ID" "" MainOS
read -r start sectors < <(partx -g -o START,SECTORS -n 2 "$T/big.img")
part=$(losetup -f --show -o $((start * 512)) --sizelimit $((sectors * 512)) "$T/big.img")
mkdir "$T/fill" && ntfs-3g "$part" "$T/fill" && head -c 160M /dev/urandom >"$T/fill/random.bin"
umount "$T/fill" && losetup -d "$part" && "$FFU_PACK" "$T/big.img" "$T/big.ffu" >/dev/null
OUT=$T/out.txt

# The run's disk once attached, and the partition volumes over it.
attached() {
  [ -n "$DISK" ] || DISK=$(losetup -n -O NAME,BACK-FILE --raw | awk -v p="$P/kmd" 'index($2, p) == 1 {print $1}')
  [ -n "$DISK" ]
}
filled() { attached && [ "$(du -k "$(losetup -n -O BACK-FILE "$DISK")" | cut -f1)" -gt 32768 ]; }
volumes() { grep -lx "$DISK" /sys/block/loop*/loop/backing_file 2>/dev/null | cut -d/ -f4; }

# interrupt SIGNAL CONDITION [WHILE_STOPPED]
# A run that got past the moment before it could be stopped (it mounted and
# ended) is undone and tried again: that is the test's timing, not the run's.
interrupt() {
  local before attempt
  for attempt in 1 2 3; do
    before=$(system_state) DISK=
    "$BRACKWEN" "$T/big.ffu" >"$OUT" 2>&1 8>&- &
    pid=$!
    until eval "$2" || ! kill -0 "$pid" 2>/dev/null; do sleep 0.005; done
    { kill -STOP "$pid"; eval "${3:-true}"; kill "-$1" "$pid"; kill -CONT "$pid"; } || true
    RC=0 && wait "$pid" || RC=$?
    [ "$RC" -eq 0 ] && grep -qxF "(Korvex) Successfully mounted an image file." "$OUT" || break
    echo "note: $1 at $2: the run ended before it was stopped (attempt $attempt)"
    "$BRACKWEN" --detach >/dev/null 2>&1 8>&- || true
  done
  check "$1 at $2: exit code, its line, everything as before" "73 1 $before" \
    "$RC $(grep -cxF "(Korvex) !ERROR! The run was interrupted; removing what it made." "$OUT") $(system_state)"
}

# Another run holds the lock: this one waits.
hold_run_lock
interrupt INT "grep -q 'waiting for it to finish' '$OUT'"
release_run_lock
interrupt TERM attached
interrupt INT filled
# Volumes taken away while the run is stopped never arrive: it waits for them.
interrupt HUP 'attached && [ -n "$(volumes)" ]' 'for v in $(volumes); do losetup -d /dev/$v; done'

# Ctrl-C on `Brackwen big.ffu | cat`: the reader dies with the group (here by
# SIGTERM, since a background job ignores SIGINT), so the run's lines go into
# a broken pipe; that never stops its clean-up.
before=$(system_state) DISK= && mkfifo "$T/pipe"
"$BRACKWEN" "$T/big.ffu" >"$T/pipe" 2>&1 8>&- &
pid=$!
cat "$T/pipe" >/dev/null &
reader=$!
until filled || ! kill -0 "$pid" 2>/dev/null; do sleep 0.005; done
{ kill -STOP "$pid"; kill "$reader"; wait "$reader"; kill -INT "$pid"; kill -CONT "$pid"; } || true
RC=0 && wait "$pid" || RC=$?
check "INT on a pipeline whose reader died: exit code, everything as before" "73 $before" \
  "$RC $(system_state)"

run "$BRACKWEN" "$T/big.ffu"
expect_output "the next run finds nothing to clean up" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$T/big.ffu'" "$P/big.mnt/" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
