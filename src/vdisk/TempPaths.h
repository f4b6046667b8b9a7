#pragma once

#include <cstddef>
#include <string>

#include "common/VirtualStorage.h"

constexpr unsigned kTempPathBufferSize = 260;

// Creates a new, empty temporary file and stores its path in `name`, which
// holds `size` characters. Returns 0, or the error code after printing it.
int MakeTempFileName(wchar_t* name, size_t size);
int GetTempFolder(std::wstring& folder);
// Sets `vhdPath` to a fresh "kmd" name in the temporary folder with the
// format's extension; no file of that name is left behind.
// Returns: 0, or non-zero after printing the failure.
int MakeVhdPath(std::wstring& vhdPath, VirtualDiskFormat format);
// Makes (or finds) the work folder "<temporary folder><image name>.mnt\" and
// sets `folder` to it; `existed` (when given) tells whether it was there
// before. Returns: 0, or non-zero after printing the failure.
int MakeMountFolder(std::wstring& folder, const std::wstring& imagePath, bool* existed = nullptr);
