// Device names in their Windows form, mapped onto loop devices.
#pragma once

#include <string>

#include "win32_types.h"

// Opens "\\.\PhysicalDriveN" (the loop device /dev/loopN, when it is bound to
// a file) or "\\.\Volume{GUID}" / "\\?\Volume{GUID}\" (the partition volume of
// that GPT partition GUID, once it has arrived) into a Device handle. Called
// by CreateFileW for every path that starts with "\\.\" or "\\?\".
// FILE_FLAG_NO_BUFFERING opens the device for direct I/O, past the page
// cache, as it does on Windows. Returns: a Win32 code, ERROR_FILE_NOT_FOUND
// for a name that is no such device; *handle is INVALID_HANDLE_VALUE unless
// it succeeds.
DWORD OpenDevicePath(const wchar_t* path, DWORD desiredAccess, DWORD flagsAndAttributes,
                     HANDLE* handle);
