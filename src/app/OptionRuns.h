#pragma once

struct CommandLine;

// The exit code of an option whose job failed, as for a failed mount.
inline constexpr int kJobFailed = 73;

// --detach: the sweep of the disks of earlier mounts, alone.
// Returns: 0 after the sweep; kJobFailed when it failed.
int RunDetach();

// --list, --check and --extract: each loads the image as a mount does (with
// the same lines when it cannot be loaded), reads it and attaches nothing.
// Returns: 0 on success; kJobFailed when the image cannot be read or the job
// fails; for --check the codes of the whole-file check.
int RunInspection(const CommandLine& line);
