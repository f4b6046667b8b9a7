#pragma once

#include <string>

#include "win32.h"

// Opens a drive or volume device for reading and writing, shared with every
// other opener, as all of this program's device opens do.
// Returns: the handle, or INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenDevice(const std::wstring& path, DWORD flags = 0);
