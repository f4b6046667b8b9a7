# Shared by the end-to-end tests: a temporary folder of the test's own, the
# program's exact output, and a cleanup that leaves nothing attached or
# mounted, also when a test fails.
set -euo pipefail

: "${BRACKWEN:?path of the built Brackwen}"
: "${SOURCE_DIR:?path of the source tree}"
FFU_PACK=${FFU_PACK:-}

T=$(mktemp -d /tmp/brackwen-e2e-XXXXXX)
chmod 755 "$T"
export TMPDIR=$T
# The program keeps its VHD files and work folders in the private folder of
# the user it runs as, inside $TMPDIR.
P=$T/brackwen-$(id -u)
unset DISPLAY WAYLAND_DISPLAY
FAILURES=0

# The program sweeps every image disk on the machine, so the expected output
# only holds where no other image disk (a demo's, say) is attached.
foreign=$(losetup -n -O NAME,BACK-FILE --raw 2>/dev/null | awk -v t="$T" '$2 ~ /\/kmd[^\/]*\.vhd/ && index($2, t) != 1 {print $1 " (" $2 ")"}')
if [ -n "$foreign" ]; then
  echo "e2e: another image disk is attached: $foreign"
  echo "e2e: detach it first (umount its mount point, then losetup -d), or run the tests on a clean machine"
  rm -rf "$T"
  exit 1
fi

CREDITS="Looks inside full flash update images, one partition at a time."

# Loop devices whose backing file lies under $T, partition volumes (loops
# over those loops) first.
test_loops() {
  local disks
  disks=$(losetup -n -O NAME,BACK-FILE --raw 2>/dev/null | awk -v t="$T" 'index($2, t) == 1 {print $1}')
  for disk in $disks; do
    losetup -n -O NAME,BACK-FILE --raw | awk -v d="$disk" '$2 == d {print $1}'
  done
  echo "$disks"
}

cleanup_attached() {
  local target loop
  for target in $(awk -v t="$T" 'index($5, t) == 1 {print $5}' /proc/self/mountinfo | sort -r); do
    umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
  done
  for loop in $(test_loops); do losetup -d "$loop" 2>/dev/null || true; done
}

finish() {
  local status=$?
  [ -z "${RUN_LOCK_HELD:-}" ] || rm -f "$RUN_LOCK"
  cleanup_attached
  rm -rf "$T"
  if [ "$status" -eq 0 ] && [ "$FAILURES" -ne 0 ]; then status=1; fi
  if [ "$status" -eq 0 ]; then echo "e2e: passed"; else echo "e2e: FAILED ($FAILURES checks)"; fi
  exit "$status"
}
trap finish EXIT

fail() {
  echo "FAIL: $*"
  FAILURES=$((FAILURES + 1))
}

# check NAME EXPECTED ACTUAL
check() {
  if [ "$2" == "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi
}

# Runs the program with stdout to a file: OUT holds the output, RC the exit code.
run() {
  local program=$1
  shift
  OUT=$T/out.txt
  set +e
  "$program" "$@" >"$OUT" 2>"$T/err.txt"
  RC=$?
  set -e
}

# Runs the program as user nobody, as run does.
run_as_nobody() { run setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

# expect_output NAME LINE...: the whole output must be exactly these lines,
# each ending in a line feed. \r in a line stands for a carriage return.
expect_output() {
  local name=$1
  shift
  local expected=$T/expected.txt
  : >"$expected"
  local line
  for line in "$@"; do printf '%b\n' "$line" >>"$expected"; done
  if cmp -s "$expected" "$OUT"; then
    echo "ok: $name"
  else
    fail "$name: output differs"
    diff <(cat -A "$expected") <(cat -A "$OUT") || true
  fi
}

# The lines every run of the program under its own name starts with.
banner_lines() {
  BANNER=("" "Ferrolith v.1.0.204" "$CREDITS" "Brackwen Tool v.1.0.15" "")
}
banner_lines

usage_lines() {
  USAGE=("" "Ferrolith v.1.0.204" "$CREDITS" "Brackwen Usage:"
         "Brackwen Mount an image file as a virtual hard drive."
         "Brackwen <ImageFile>")
}
usage_lines

# Escapes backslashes and percent signs of a path for expect_output's %b.
esc() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

# make_ffu NAME SIZE_MIB SECTOR DISK_GUID MAIN_NAME [ffu-pack options...]
# Makes $T/NAME.img (files of its main partition in $T/NAME.files) and
# packs it into $T/NAME.ffu.
make_ffu() {
  local name=$1 size=$2 sector=$3 guid=$4 main=$5
  shift 5
  "$SOURCE_DIR/scripts/make-sample-disk" "$T/$name.img" "$size" "$sector" "$guid" \
    "$T/$name.files" "$main"
  # ffu-pack finds the sector size in the disk image's GPT.
  "$FFU_PACK" "$@" "$T/$name.img" "$T/$name.ffu" >/dev/null
}

IMAGE_DISK_ID=AE420040-13DD-41F2-AE7F-0DC35854C8D7

# The loop device attached over a file, or nothing.
loop_of() { losetup -n -O NAME -j "$1" 2>/dev/null | head -n 1; }

# The VHD and VHDX files of this test's runs, oldest first (in the private
# folder of the user with id $1, root's by default).
vhd_files() {
  local own=$T/brackwen-${1:-$(id -u)}
  ls -1tr "$own"/kmd*.vhd "$own"/kmd*.vhdx 2>/dev/null || true
}

# What the program makes in the temporary folder (VHD and temporary files,
# work folders), its lock file in the machine's lock folder and what is
# attached, one item a line: the state that a failed run must leave as it
# found it.
system_state() {
  losetup -a 2>/dev/null | sort
  find "$T" \( -name 'kmd*' -o -name '*.lock' -o -name '*.mnt' \) -print 2>/dev/null | sort
  awk -v t="$T" 'index($5, t) == 1 {print "mount " $5}' /proc/self/mountinfo | sort
  find /run/brackwen -mindepth 1 -print 2>/dev/null | sort
}

# The machine's run lock, taken as the program takes it (on descriptor 8;
# start runs with 8>&-). While the test holds it, runs started meanwhile wait
# for certain, whatever their timing; once they all say so, the test lets go
# and they take it one after the other.
RUN_LOCK=/run/brackwen/Brackwen.Mount.lock
WAITING="(Korvex) Another mount is running; waiting for it to finish ..."
hold_run_lock() {
  mkdir -p -m 700 /run/brackwen && exec 8>"$RUN_LOCK" && flock 8 && RUN_LOCK_HELD=1
}
# Removed before it is let go, as the program does; waiters follow the path.
release_run_lock() { rm -f "$RUN_LOCK"; exec 8>&-; RUN_LOCK_HELD=; }
# until_waiting "PID..." FILE...: until every FILE holds the waiting line, or
# one of the runs has ended.
until_waiting() {
  local pid pids=$1
  shift
  until [ "$(grep -lxF "$WAITING" "$@" 2>/dev/null | wc -l)" -eq $# ]; do
    for pid in $pids; do kill -0 "$pid" 2>/dev/null || return 0; done
    sleep 0.05
  done
}

# Runs the program under gdb and kills it (SIGKILL) when it enters FUNCTION,
# so that a run dies at the same moment every time.
run_killed_at() {
  local function=$1
  shift
  set +e
  gdb -batch -nx -q -ex 'set breakpoint pending on' -ex "break $function" -ex run -ex kill \
    --args "$BRACKWEN" "$@" >"$T/gdb.txt" 2>&1
  set -e
  grep -q "Breakpoint 1, .*$function" "$T/gdb.txt" || fail "the run never reached $function"
}
