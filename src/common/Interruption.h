// Ctrl-C, Ctrl-Break and the closing of the console (on Linux SIGINT, SIGHUP
// and SIGTERM) interrupt a run: the event is only noted, and the run stops at
// its next safe point, where it fails like any failed run and so removes what
// it made. A second Ctrl-C is not needed.
#pragma once

// Starts noting interruptions for the rest of the process.
// Returns: 0, or the Win32 error code after printing it.
int WatchForInterruption();

// Returns: true once the run has been interrupted.
bool Interrupted();

// Prints, once per process, the line that says the run was interrupted.
// Returns: the character count of that line (the same on every call).
int FailInterrupted();

// The stop at a safe point: FailInterrupted's result when the run has been
// interrupted, else 0.
int StopIfInterrupted();
