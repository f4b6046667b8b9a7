#!/usr/bin/env bash
# Status lines in a real terminal: tmux runs the program and capture-pane
# reads the screen. Each status line is rewritten in place; the lines printed
# below it stay as they were.
source "$(dirname "$0")/lib.sh"

SESSION=brackwen-e2e-$$
cleanup_tmux() { tmux kill-session -t "$SESSION" 2>/dev/null || true; }
trap 'cleanup_tmux; finish' EXIT

# screen_of COMMAND: runs it in a fresh terminal of 160x50 and prints the
# screen once the command has ended (trailing blanks of lines trimmed).
screen_of() {
  cleanup_tmux
  tmux new-session -d -s "$SESSION" -x 160 -y 50 \
    "TMPDIR='$T' $1; echo __END__; sleep 600"
  for _ in $(seq 1 600); do
    tmux capture-pane -t "$SESSION" -p | grep -q '^__END__' && break
    sleep 0.2
  done
  tmux capture-pane -t "$SESSION" -p | sed -e 's/[[:space:]]*$//' -e '/^__END__$/,$d'
  cleanup_tmux
}

expect_screen() {  # NAME LINE...
  local name=$1
  shift
  printf '%s\n' "$@" >"$T/expected-screen.txt"
  if cmp -s "$T/expected-screen.txt" "$T/screen.txt"; then
    echo "ok: $name"
  else
    fail "$name: screen differs"
    diff "$T/expected-screen.txt" "$T/screen.txt" || true
  fi
}

HEAD=("" "Ferrolith v.1.0.204" "$CREDITS" "Brackwen Tool v.1.0.15" "")

# A refused type: the processing line stays, the error follows it.
: >"$T/phone.vhd"
screen_of "'$BRACKWEN' '$T/phone.vhd'" >"$T/screen.txt"
expect_screen "refused type" "${HEAD[@]}" \
  "(Korvex) Mounting the image file : '$T/phone.vhd'" \
  "Loading .VHD image ... processing" \
  "(Korvex) !ERROR! VHD files not yet supported." \
  "(Korvex) !ERROR! Failed to load the Image : $T/phone.vhd" \
  "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."

# A bad image header: the loading line turns to fault! above the three lines
# printed after it, which stay unchanged.
make_ffu phone 32 512 "$IMAGE_DISK_ID" MainOS
"$FFU_PACK" --damage image-signature "$T/phone.img" "$T/bad.ffu" >/dev/null
screen_of "'$BRACKWEN' '$T/bad.ffu'" >"$T/screen.txt"
expect_screen "bad header" "${HEAD[@]}" \
  "(Korvex) Mounting the image file : '$T/bad.ffu'" \
  "Loading .FFU image ... fault!" \
  "(Korvex) !ERROR! Unable to load image because the image header is invalid." \
  "(Korvex) !ERROR! Failed to initialize metadata with '$T/bad.ffu'" \
  "(Korvex) !ERROR! Failed to load the Image : $T/bad.ffu" \
  "(Korvex) !ERROR! Failed to mount the image file as a virtual hard drive."

# A whole mount: loading, progress and partition lines each end in place.
screen_of "'$BRACKWEN' '$T/phone.ffu'" >"$T/screen.txt"
expect_screen "whole mount" "${HEAD[@]}" \
  "(Korvex) Mounting the image file : '$T/phone.ffu'" \
  "Loading .FFU image ... ok" \
  "Creating virtual disk ... ok" \
  "Mounting MainOS partition as : '//phone.mnt/' ... ok" \
  "$P/phone.mnt/" \
  "(Korvex) The catalog is not signed." "(Korvex) Successfully mounted an image file."
