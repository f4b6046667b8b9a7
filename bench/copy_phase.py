#!/usr/bin/env python3
"""Runs a command in a pseudo-terminal, so that its status lines are shown,
and prints the seconds from the first to the last progress line of the
payload copy, then the seconds of the whole run, then the exit code, then
the seconds before the copy and after it."""
import os
import pty
import sys
import time

START = b"Creating virtual disk ... 0%"
END = b"Creating virtual disk ... ok"


def main():
    started = time.monotonic()
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(sys.argv[1], sys.argv[1:])
    seen = b""
    copy_start = copy_end = None
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        now = time.monotonic()
        seen = (seen + chunk)[-4096:]
        if copy_start is None and START in seen:
            copy_start = now
        if copy_start is not None and copy_end is None and END in seen:
            copy_end = now
    _, status = os.waitpid(pid, 0)
    total = time.monotonic() - started
    copy = (copy_end - copy_start) if copy_start and copy_end else float("nan")
    before = (copy_start - started) if copy_start else float("nan")
    after = (started + total - copy_end) if copy_end else float("nan")
    print(f"{copy:.3f} {total:.3f} {os.waitstatus_to_exitcode(status)} {before:.3f} {after:.3f}")


if __name__ == "__main__":
    main()
