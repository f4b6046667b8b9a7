#pragma once

#include <string>

#include "win32.h"

// Opens a drive or volume device for reading and writing, shared with every
// other opener, as all of this program's device opens are shared.
// Returns: the handle, or INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenDevice(const std::wstring& path, DWORD flags = 0);

// Opens a drive or volume device only to ask it something, with the least
// access that needs: 0 for what the device is (its number), GENERIC_READ for
// what it holds (its layout). A policy that refuses writes to a drive does
// not stand in the way. Returns: as OpenDevice.
HANDLE OpenDeviceToQuery(const std::wstring& path, DWORD access);
