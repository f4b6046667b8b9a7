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
