#pragma once

#include <string>

#include "win32.h"

// Whether `folder` (ending in a separator) carries a volume that lies on the
// disk behind `diskHandle`. Prints nothing.
enum class FolderVolume { kNone, kOnDisk, kOnAnotherDisk, kUnknown };
// Returns: kNone when the folder is no mount point; kOnDisk or kOnAnotherDisk
// by the volume's device number; kUnknown when either number cannot be read.
FolderVolume VolumeAtFolder(HANDLE diskHandle, const std::wstring& folder);

// A mount is only a success when the folder carries a volume of this very
// disk: an earlier disk of the same image that could not be detached has
// the same partition identities, and its volume may be the one found there.
// The volume must also hold a file system the system reads: a RAW volume is
// linked to the folder without complaint and shows an empty folder.
// Returns: 0 when it does; otherwise the character count of the line that
// says why, or the Win32 error code after printing it when the disk of the
// volume cannot be told.
int CheckMountedVolume(HANDLE diskHandle, const std::wstring& folder);
