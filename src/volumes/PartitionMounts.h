#pragma once

#include <string>

#include "win32.h"

// Gives the volume of every partition named `partitionName` a mount point on
// `folder` (ending in a separator).
// Returns: 0 on success, or the Win32 error code after the status line
// shows the fault and the error is printed.
int MountPartition(HANDLE diskHandle, const std::wstring& partitionName,
                   const std::wstring& folder);

// Removes an access path of every partition named `partitionName`: a run's
// work folder where the volume has one among several, else the first.
// Returns: 0, also when a path could not be removed; the Win32 error code,
// after printing it, when the layout cannot be read.
int UnmountPartition(HANDLE diskHandle, const std::wstring& partitionName);

// Mounts the partition the image is browsed by (see ChoosePartition) on
// `folder`: the partitions named "MainOS", or else the largest basic data
// partition, with a warning that names it. Fails with a line of its own when
// the image has neither.
// Returns: 0 on success; the character count of that line when there is
// nothing to mount; otherwise the Win32 error code, after printing it.
int MountMainPartition(HANDLE diskHandle, const std::wstring& folder);

// Removes an access path, as UnmountPartition does, of the partition that
// MountMainPartition chooses on this disk.
// Returns: 0, also when a path could not be removed; the Win32 error code,
// after printing it, when the layout cannot be read.
int UnmountMainPartition(HANDLE diskHandle);
