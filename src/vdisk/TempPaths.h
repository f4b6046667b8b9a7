#pragma once

#include <cstddef>
#include <string>

#include "common/PathFunctions.h"
#include "common/VirtualStorage.h"

// The longest folder path the system makes, in units: MAX_PATH less room for
// an 8.3 file name in it. A mount point path must also stay under MAX_PATH.
inline constexpr size_t kMaxFolderPathUnits = 247;

// Creates a new, empty temporary file and stores its path in `name`, which
// holds `size` characters.
// Returns: 0; the Win32 error code, after a line with it, when the temporary
// folder or file could not be had; ERROR_INSUFFICIENT_BUFFER, with no line
// and no file left, when the name does not fit.
int MakeTempFileName(wchar_t* name, size_t size);
// Sets `folder` to the temporary folder, separator included.
// Returns: 0, or the Win32 error code after a line with it.
int GetTempFolder(std::wstring& folder);
// Sets `vhdPath` to a fresh "kmd" name in the temporary folder with the
// format's extension; no file of that name is left behind.
// Returns: 0, or the character count of the failure line.
int MakeVhdPath(std::wstring& vhdPath, VirtualDiskFormat format);
// Sets `folder` to the work folder "<temporary folder><image name>.mnt\"
// without making it, and checks that the system can make it and mount a
// volume on it: a longer path would fail only once the disk exists.
// Returns: 0; the Win32 error code, after printing it, when the temporary
// folder is not known; the character count of the line that says the path
// is too long.
int CheckMountFolderPath(std::wstring& folder, const std::wstring& imagePath);
// Makes (or finds) the work folder "<temporary folder><image name>.mnt\" and
// sets `folder` to it; `existed` (when given) tells whether it was there
// before.
// Returns: 0; the Win32 error code, after printing it, when the temporary
// folder is not known; the character count of the failure line when the
// work folder cannot be made.
int MakeMountFolder(std::wstring& folder, const std::wstring& imagePath, bool* existed = nullptr);
