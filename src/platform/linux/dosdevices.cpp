// DOS device names: the physical drives and partition volumes of this system.
#include <cwchar>
#include <string>
#include <vector>

#include "platform.h"
#include "support/kernel/loop_device.h"
#include "support/kernel/partition_volumes.h"
#include "support/runtime/errors.h"
#include "support/runtime/multi_string.h"
#include "support/runtime/text.h"

namespace {

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

// Stores the list at `target`. Returns the units stored, or 0 with
// ERROR_INSUFFICIENT_BUFFER when it does not fit in `max` units.
DWORD StoreNames(const std::vector<std::wstring>& strings, LPWSTR target, DWORD max) {
  if (target == nullptr || MultiStringSize(strings) > max) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return static_cast<DWORD>(StoreMultiString(strings, target));
}

}  // namespace

DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max) {
  if (deviceName == nullptr) return StoreNames(ListNames(), targetPath, max);
  const std::string target = TargetOf(deviceName);
  if (target.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return StoreNames({FromUtf8(target)}, targetPath, max);
}
