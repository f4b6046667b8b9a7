#pragma once

#include <string>

#include "win32.h"

// Whether `folder` (ending in a separator) carries a volume that lies on the
// disk behind `diskHandle`. Prints nothing.
enum class FolderVolume { kNone, kOnDisk, kOnAnotherDisk, kUnknown };
FolderVolume VolumeAtFolder(HANDLE diskHandle, const std::wstring& folder);

// A mount is only a success when the folder carries a volume of this very
// disk: an earlier disk of the same image that could not be detached has
// the same partition identities, and its volume may be the one found there.
// 0 when it does; otherwise prints why and returns non-zero.
int CheckMountedVolume(HANDLE diskHandle, const std::wstring& folder);
