#!/usr/bin/env bash
# Files Windows keeps compressed through its overlay filter, read as user
# nobody through --ls, --copy and the view: every algorithm and size of the
# corpus (tests/wof/make-wof-corpus) with the bytes it was made from, reads
# at random offsets across chunk boundaries, and the files no read may
# serve (unknown provider or algorithm, a stream cut short, a file longer
# than its stream) failing with EIO and their line.
source "$(dirname "$0")/lib.sh"

fuse_mode=600
restore_fuse() { chmod "$fuse_mode" /dev/fuse 2>/dev/null || true; }
unmount_view() { fusermount3 -u "$T/view" 2>/dev/null || umount -l "$T/view" 2>/dev/null || true; }
trap 'status=$?; set +e; restore_fuse; unmount_view; (exit $status); finish' EXIT

WOF_STREAM=$BUILD_DIR/tests/wof-stream
"$SOURCE_DIR/tests/wof/make-wof-corpus" "$WOF_STREAM" "$T/corpus" --big
"$FFU_PACK" "$T/corpus/disk.img" "$T/wof.ffu" >/dev/null
rm -f "$T/corpus/disk.img"
chmod 1777 "$T"
chmod 644 "$T/wof.ffu"
cp "$BRACKWEN" "$T/Brackwen"
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

mkdir "$T/view" "$T/copies"
chown nobody "$T/view" "$T/copies"
chmod 666 /dev/fuse
run_as_nobody "$T/Brackwen" --view "$T/wof.ffu" "$T/view"
restore_fuse
check "the view starts" 0 "$RC"

while read -r path size sum mark; do
  name=$(basename "$path")
  copy="$T/copies/$(echo "$path" | tr / _)"
  run_as_nobody "$T/Brackwen" --ls "$T/wof.ffu" "MainOS/$path"
  if [ "$sum" = - ]; then
    # EIO, never the whole file; one line that says why; --copy leaves nothing.
    as_nobody cat "$T/view/MainOS/$path" >"$T/read.out" 2>"$T/read.err" && fail "$path reads"
    grep -q "Input/output error" "$T/read.err" && echo "ok: $path: EIO through the view" ||
      fail "$path: not EIO: $(cat "$T/read.err")"
    run_as_nobody "$T/Brackwen" --copy "$T/wof.ffu" "MainOS/$path" "$copy"
    check "$path: --copy fails" 73 "$RC"
    [ ! -e "$copy" ] || fail "$path: a failed copy left $copy"
    grep -q "$name: .*; its reads fail\." "$T/err.txt" || fail "$path: no line: $(cat "$T/err.txt")"
    continue
  fi
  line=$(sed -n '/ /p' "$OUT" | tail -n 1)
  [[ "$line" =~ ^-\ +$size\ .*\ $name ]] || fail "$path: --ls shows [$line]"
  if [ "$mark" != - ]; then
    [[ "$line" == *"[compressed: $mark]" ]] || fail "$path: --ls lacks its algorithm: [$line]"
  fi
  check "$path through the view" "$sum" "$(as_nobody sha256sum "$T/view/MainOS/$path" | cut -d' ' -f1)"
  run_as_nobody "$T/Brackwen" --copy "$T/wof.ffu" "MainOS/$path" "$copy"
  check "$path: --copy" "0 $sum" "$RC $(sha256sum <"$copy" | cut -d' ' -f1)"
  rm -f "$copy"
done <"$T/corpus/expected.txt"

# Random offsets and lengths, across chunk boundaries, against the bytes the
# files were made from.
random_reads() {  # VIEW_FILE SOURCE COUNT
  as_nobody /usr/bin/python3 - "$@" <<'PY'
import os, random, sys
view, source, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
size = os.path.getsize(source)
rng = random.Random(size)
with open(view, "rb", buffering=0) as a, open(source, "rb") as b:
    for _ in range(count):
        offset = rng.randrange(size)
        length = rng.choice([1, 7, 4095, 4097, 33000, 70000, rng.randrange(1, 200000)])
        a.seek(offset); b.seek(offset)
        if a.read(length) != b.read(length):
            sys.exit(f"{view}: {length} bytes at {offset} differ")
PY
}
"$WOF_STREAM" generate mixed $(((3 << 20) + 1)) "$T/source"
chmod 644 "$T/source"
for folder in XPRESS4K LZX XPRESS8K XPRESS16K; do
  random_reads "$T/view/MainOS/Wof/$folder/three-mib-and-one.bin" "$T/source" 800 &&
    echo "ok: $folder: 800 random reads" || fail "$folder: random reads"
done
"$WOF_STREAM" generate sparse $(((4 << 30) + (1 << 20))) "$T/source"
chmod 644 "$T/source"
random_reads "$T/view/MainOS/Wof/LZX/four-gib.bin" "$T/source" 500 &&
  echo "ok: four-gib.bin: 500 random reads" || fail "four-gib.bin: random reads"
rm -f "$T/source"

unmount_view
[ -z "$(awk -v t="$T/view" '$2 == t' /proc/mounts)" ] || fail "the view is still mounted"
