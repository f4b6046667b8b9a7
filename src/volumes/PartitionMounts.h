#pragma once

#include <string>

#include "win32.h"

struct MountChoice;

// Mounts the partition chosen from the image before its disk was made (see
// ChooseFromTables) on `folder`: the entry of the disk's layout with the
// partition's GUID and first sector. A partition not chosen by its name is
// named in a warning first.
// Returns: 0 on success; otherwise the Win32 error code (ERROR_NOT_FOUND when
// the layout lacks the partition), after the status line shows the fault
// and the error is printed.
int MountChosenPartition(HANDLE diskHandle, const MountChoice& choice, const std::wstring& folder);

// Removes an access path of the partition that ChoosePartition chooses on
// this disk (a run's work folder where the volume has one among several,
// else the first), and the work folders of ours that any other partition of
// it is mounted on.
// Returns: 0, also when a path could not be removed; the Win32 error code,
// after printing it, when the layout cannot be read.
int UnmountMainPartition(HANDLE diskHandle);
