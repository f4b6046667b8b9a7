#!/usr/bin/env bash
# Ctrl-C (SIGINT), SIGTERM and SIGHUP stop a run at its next safe point: it
# says that it was interrupted, removes what it made and exits 73, leaving
# the loop devices, the mounts and the private folder as they were; the next
# run then finds nothing to clean up. To hit each moment of a large mount,
# the run is stopped (SIGSTOP) once the test sees the moment, signalled, and
# continued.
source "$(dirname "$0")/lib.sh"

# A disk whose MainOS holds 160 MiB of random bytes, so that the copy lasts.
"$SOURCE_DIR/scripts/make-sample-disk" "$T/big.img" 224 512 "$IMAGE_DISK_ID" "$T/big.files" \
  MainOS
read -r start sectors < <(partx -g -o START,SECTORS -n 2 "$T/big.img")
part=$(losetup --find --show --offset $((start * 512)) --sizelimit $((sectors * 512)) "$T/big.img")
mkdir "$T/fill"
ntfs-3g "$part" "$T/fill"
head -c 160M /dev/urandom >"$T/fill/random.bin"
umount "$T/fill"
losetup -d "$part"
"$FFU_PACK" "$T/big.img" "$T/big.ffu" >/dev/null
rm -f "$T/big.img"
FFU=$T/big.ffu
MNT=$P/big.mnt/
INTERRUPTED="(Korvex) !ERROR! The run was interrupted; removing what it made."
LOCK=/run/brackwen/Brackwen.Mount.lock

# Waits (without a time limit of its own; ctest has one) until CONDITION
# holds or the run has ended.
wait_until() {
  until eval "$1"; do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.005
  done
}

# interrupt NAME SIGNAL CONDITION [WHILE_STOPPED]: starts a run, stops it
# once CONDITION holds, runs WHILE_STOPPED, signals it, lets it go on and
# checks what it leaves.
interrupt() {
  local name=$1 signal=$2 condition=$3 stopped=${4:-true} before
  before=$(system_state)
  DISK=
  set +e
  "$BRACKWEN" "$FFU" >"$T/out.txt" 2>&1 &
  pid=$!
  wait_until "$condition"
  kill -STOP "$pid" 2>/dev/null
  eval "$stopped"
  kill "-$signal" "$pid" 2>/dev/null
  kill -CONT "$pid" 2>/dev/null
  wait "$pid"
  RC=$?
  set -e
  check "$name: exit code" 73 "$RC"
  grep -qxF "$INTERRUPTED" "$T/out.txt" || fail "$name: no line says so: $(cat "$T/out.txt")"
  check "$name: everything as before" "$before" "$(system_state)"
}

vhd_attached() { losetup -n -O BACK-FILE --raw | grep -q "^$P/kmd"; }
vhd_filled() {
  local vhd
  vhd=$(vhd_files | tail -n 1)
  [ -n "$vhd" ] && [ "$(du -k "$vhd" | cut -f1)" -gt 32768 ]
}

# Waiting for another run's lock (held here), before anything is made.
mkdir -p /run/brackwen
flock "$LOCK" sleep 600 &
holder=$!
trap 'kill "$holder" 2>/dev/null || true; rm -f "$LOCK"; finish' EXIT
until [ -e "$LOCK" ]; do sleep 0.01; done
interrupt "waiting for the lock" INT "grep -q 'waiting for it to finish' '$T/out.txt'"
kill "$holder"
wait "$holder" 2>/dev/null || true
rm -f "$LOCK"

interrupt "right after the attach" TERM vhd_attached
interrupt "in the copy" INT vhd_filled
# The run's disk (its loop device, once attached) and its partition volumes
# (loop devices over it), looked up cheaply while the run goes on.
volumes_arrived() {
  [ -n "$DISK" ] || DISK=$(losetup -n -O NAME,BACK-FILE --raw | awk -v p="$P/kmd" 'index($2, p) == 1 {print $1}')
  [ -n "$DISK" ] && grep -qx "$DISK" /sys/block/loop*/loop/backing_file 2>/dev/null
}
# Taken away while the run is stopped, they never arrive for it: the run then
# sits in its wait for the volume when the signal comes.
remove_volumes() {
  local volume
  for volume in $(grep -lx "$DISK" /sys/block/loop*/loop/backing_file | cut -d/ -f4); do
    losetup -d "/dev/$volume"
  done
}
interrupt "in the wait for the volume" HUP volumes_arrived remove_volumes

run "$BRACKWEN" "$FFU"
expect_output "the next run finds nothing to clean up" "${BANNER[@]}" \
  "(Korvex) Mounting the image file : '$FFU'" \
  "$MNT" \
  "(Korvex) Successfully mounted an image file."
check "the next run: exit code" 0 "$RC"
