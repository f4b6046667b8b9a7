// Opening device names: physical drives and partition volumes.
#include "devices.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>

#include "loop_device.h"
#include "partition_volumes.h"
#include "support/runtime/device_prefix.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"

namespace {

// N of "\\.\PhysicalDriveN" or "\\?\PhysicalDriveN"; -1 for any other name.
int DriveNumberOf(const std::wstring& path) {
  if (!HasDevicePrefix(path.c_str())) return -1;
  const std::wstring name = path.substr(kDevicePrefixLength);
  const size_t prefixLength = wcslen(kDrivePrefix);
  if (name.compare(0, prefixLength, kDrivePrefix) != 0) return -1;
  const std::wstring digits = name.substr(prefixLength);
  if (digits.empty() || digits.size() > 7) return -1;
  for (wchar_t digit : digits) {
    if (digit < L'0' || digit > L'9') return -1;
  }
  return static_cast<int>(wcstol(digits.c_str(), nullptr, 10));
}

DWORD OpenLoop(int number, DWORD desiredAccess, DWORD flagsAndAttributes, HANDLE* handle) {
  const std::string device = LoopDevicePath(number);
  const bool write = (desiredAccess & GENERIC_WRITE) != 0;
  const int direct = (flagsAndAttributes & FILE_FLAG_NO_BUFFERING) ? O_DIRECT : 0;
  int fd = open(device.c_str(), (write ? O_RDWR : O_RDONLY) | direct | O_CLOEXEC);
  // A write-protected disk still opens, as it does for a drive on Windows;
  // its writes then fail.
  if (fd < 0 && write && errno == EROFS) fd = open(device.c_str(), O_RDONLY | direct | O_CLOEXEC);
  if (fd < 0) return Win32FromErrno(errno);
  *handle = NewHandle(HandleKind::kDevice, fd, device);
  HandleOf(*handle, HandleKind::kDevice)->access = desiredAccess;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD OpenDevicePath(const wchar_t* path, DWORD desiredAccess, DWORD flagsAndAttributes,
                     HANDLE* handle) {
  *handle = INVALID_HANDLE_VALUE;
  if (path == nullptr) return ERROR_FILE_NOT_FOUND;
  const int drive = DriveNumberOf(path);
  if (drive >= 0) {
    LoopBinding binding;
    if (!LoopReadBinding(drive, &binding) || LoopDiskOf(binding) >= 0) {
      return ERROR_FILE_NOT_FOUND;
    }
    return OpenLoop(drive, desiredAccess, flagsAndAttributes, handle);
  }
  GUID partitionId;
  if (ParseVolumeName(path, &partitionId)) {
    PartitionVolume volume;
    if (!FindPartitionVolume(partitionId, &volume)) return ERROR_FILE_NOT_FOUND;
    return OpenLoop(volume.volumeNumber, desiredAccess, flagsAndAttributes, handle);
  }
  return ERROR_FILE_NOT_FOUND;
}
