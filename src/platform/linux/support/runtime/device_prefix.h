// The prefix of device names in their Windows form: "\\.\" or "\\?\".
#pragma once

#include <cstddef>
#include <string>

inline constexpr size_t kDevicePrefixLength = 4;

// What a physical drive's device name holds between the prefix and its
// number: "PhysicalDrive" (platform.h names it for the program too).
extern const wchar_t kDrivePrefix[];

// Returns: whether the NUL-terminated `path` begins with "\\.\" or "\\?\".
inline bool HasDevicePrefix(const wchar_t* path) {
  return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'.' || path[2] == L'?') &&
         path[3] == L'\\';
}

// Returns: the device name of physical drive `number`, "\\.\PhysicalDriveN".
std::wstring DriveDeviceName(int number);
