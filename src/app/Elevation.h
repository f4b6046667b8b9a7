#pragma once

// Runs that attach or detach disks need an elevated token (root on Linux).
// A run without one is told so in one line before it waits for the lock or
// reads the image, instead of failing at its first privileged call.
// Returns: 0 when the token is elevated or cannot be asked (the run goes on
// and fails in its own words where it must); otherwise the exit code of a
// failed job, after the line.
int RefuseUnlessElevated();
