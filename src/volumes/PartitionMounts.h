#pragma once

#include <string>

#include "win32.h"

// Gives the volume of every partition named `partitionName` a mount point on
// `folder` (ending in a separator). 0 on success, else the reported code.
int MountPartition(HANDLE diskHandle, const std::wstring& partitionName,
                   const std::wstring& folder);

// Removes the first access path of every partition named `partitionName`.
// 0 unless the layout cannot be read.
int UnmountPartition(HANDLE diskHandle, const std::wstring& partitionName);

// Mounts the partition the image is browsed by (see ChoosePartition) on
// `folder`: the partitions named "MainOS", or else the largest basic data
// partition, with a warning that names it. Fails with a line of its own when
// the image has neither. 0 on success, else non-zero.
int MountMainPartition(HANDLE diskHandle, const std::wstring& folder);

// Removes the first access path of the partition that MountMainPartition
// chooses on this disk. 0 unless the layout cannot be read.
int UnmountMainPartition(HANDLE diskHandle);
