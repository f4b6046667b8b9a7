#pragma once

#include <string>

#include "win32.h"

struct MountChoice;

// Gives the volume of every partition named `partitionName` a mount point on
// `folder` (ending in a separator).
// Returns: 0 on success, or the Win32 error code after the status line
// shows the fault and the error is printed.
int MountPartition(HANDLE diskHandle, const std::wstring& partitionName,
                   const std::wstring& folder);

// Removes the first access path of every partition named `partitionName`.
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

// Mounts the partition chosen from the image before its disk was made (see
// ChooseFromTables) on `folder`: the entry of the disk's layout with the
// partition's GUID and first sector. A partition not chosen by its name is
// named in a warning first.
// Returns: 0 on success; otherwise the Win32 error code (ERROR_NOT_FOUND when
// the layout lacks the partition), after the status line shows the fault
// and the error is printed.
int MountChosenPartition(HANDLE diskHandle, const MountChoice& choice, const std::wstring& folder);

// Removes the first access path of the partition that MountMainPartition
// chooses on this disk.
// Returns: 0, also when a path could not be removed; the Win32 error code,
// after printing it, when the layout cannot be read.
int UnmountMainPartition(HANDLE diskHandle);
