// DOS device names: the physical drives and partition volumes of this system.
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"
#include "loop_device.h"
#include "partition_volumes.h"
#include "text.h"

namespace {

const wchar_t kDrivePrefix[] = L"PhysicalDrive";

std::vector<std::wstring> ListNames() {
  std::vector<std::wstring> names;
  for (const LoopBinding& binding : LoopListBindings()) {
    if (LoopDiskOf(binding) < 0) names.push_back(kDrivePrefix + std::to_wstring(binding.number));
  }
  for (const PartitionVolume& volume : ListPartitionVolumes()) {
    names.push_back(L"Volume" + VolumeGuidText(volume.partitionId));
  }
  return names;
}

// The device node behind one name, or empty when there is none.
std::string TargetOf(const std::wstring& name) {
  const size_t prefixLength = wcslen(kDrivePrefix);
  if (name.compare(0, prefixLength, kDrivePrefix) == 0) {
    const int number = LoopNumberOfPath("/dev/loop" + ToUtf8(name.substr(prefixLength)));
    LoopBinding binding;
    if (LoopReadBinding(number, &binding) && LoopDiskOf(binding) < 0) return LoopDevicePath(number);
    return std::string();
  }
  GUID partitionId;
  PartitionVolume volume;
  if (ParseVolumeName((L"\\\\.\\" + name).c_str(), &partitionId) &&
      FindPartitionVolume(partitionId, &volume)) {
    return LoopDevicePath(volume.volumeNumber);
  }
  return std::string();
}

// Copies the strings, each NUL-terminated, then the closing NUL. Returns the
// units stored, or 0 with ERROR_INSUFFICIENT_BUFFER.
DWORD StoreMultiString(const std::vector<std::wstring>& strings, LPWSTR target, DWORD max) {
  size_t needed = 1;
  for (const std::wstring& text : strings) needed += text.size() + 1;
  if (target == nullptr || needed > max) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  size_t at = 0;
  for (const std::wstring& text : strings) {
    text.copy(target + at, text.size());
    at += text.size();
    target[at++] = L'\0';
  }
  target[at++] = L'\0';
  return static_cast<DWORD>(at);
}

}  // namespace

DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max) {
  if (deviceName == nullptr) return StoreMultiString(ListNames(), targetPath, max);
  const std::string target = TargetOf(deviceName);
  if (target.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return StoreMultiString({FromUtf8(target)}, targetPath, max);
}
