#include "volumes/VolumeNames.h"

#include "common/UniqueHandle.h"
#include "volumes/OpenDevice.h"

namespace {
constexpr DWORD kVolumeNameUnits = MAX_PATH;

bool SameDisk(const STORAGE_DEVICE_NUMBER& a, const STORAGE_DEVICE_NUMBER& b) {
  return a.DeviceType == b.DeviceType && a.DeviceNumber == b.DeviceNumber;
}

// Whether the named volume lies on that disk at that partition number; it
// is opened without access, only to be asked its number.
bool IsVolumeOf(const wchar_t* volumeName, const STORAGE_DEVICE_NUMBER& disk,
                DWORD partitionNumber) {
  UniqueHandle volume(OpenDeviceToQuery(VolumeDevicePath(volumeName), 0));
  STORAGE_DEVICE_NUMBER number{};
  return volume.Valid() && QueryDeviceNumber(volume.Get(), number) && SameDisk(number, disk) &&
         number.PartitionNumber == partitionNumber;
}
}  // namespace

bool QueryDeviceNumber(HANDLE device, STORAGE_DEVICE_NUMBER& number) {
  DWORD bytesReturned = 0;
  return DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof(number), &bytesReturned, nullptr) != 0;
}

std::wstring VolumeDevicePath(const std::wstring& volumeName) {
  std::wstring path = volumeName;
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  if (path.size() > 2 && path[2] == L'?') path[2] = L'.';
  return path;
}

bool FindVolumeOfPartition(HANDLE disk, DWORD partitionNumber, std::wstring& volumeName) {
  STORAGE_DEVICE_NUMBER onDisk{};
  if (!QueryDeviceNumber(disk, onDisk)) return false;
  wchar_t name[kVolumeNameUnits] = {};
  HANDLE search = FindFirstVolumeW(name, kVolumeNameUnits);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    found = IsVolumeOf(name, onDisk, partitionNumber);
  } while (!found && FindNextVolumeW(search, name, kVolumeNameUnits));
  FindVolumeClose(search);
  if (found) volumeName = name;
  return found;
}
