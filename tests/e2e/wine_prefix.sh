# Sourced by the Wine tests: a fresh Wine prefix in a folder of the test's own
# (tmp), with no display, browser or runtime installers, removed with the
# Wine server on exit. Exits 1 with a line when Wine is not installed.
# Usage: start_wine_prefix NAME
start_wine_prefix() {
  if ! command -v wine >/dev/null 2>&1; then
    echo "FAIL: wine is not installed (Debian package: wine)" >&2
    exit 1
  fi
  # No dot in the folder names: the program takes the last dot of the whole
  # path as the start of the extension.
  tmp="$(mktemp -d "/tmp/$1-XXXXXX")"
  # Wine keeps its server socket folder under TMPDIR: inside the test's own.
  export WINEPREFIX="$tmp/prefix" TMPDIR="$tmp" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  trap stop_wine_prefix EXIT
  # One server for the whole test: a server that quits between two runs (it
  # does, a few seconds after its last client) can refuse the next run's
  # connection while it goes.
  mkdir -p "$WINEPREFIX"
  wineserver -p
}

stop_wine_prefix() {
  if command -v wineserver >/dev/null 2>&1 && [[ -d "$WINEPREFIX" ]]; then
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
  fi
  rm -rf "$tmp"
}
