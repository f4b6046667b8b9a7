#include "volumes/DiskAttributes.h"

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "platform.h"

namespace {
constexpr ULONG kDiskAttributesVersion = 16;
}

int UpdateDiskProperties(HANDLE diskHandle) {
  DWORD bytesReturned = 0;
  if (!DeviceIoControl(diskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                       &bytesReturned, nullptr)) {
    PrintWarningLine(L"Unable to update disk properties.\n");
    return FailWithError(0);
  }
  return 0;
}

int BringDiskOnline(HANDLE diskHandle) {
  DWORD bytesReturned = 0;
  GET_DISK_ATTRIBUTES current{};
  current.Version = kDiskAttributesVersion;
  if (!DeviceIoControl(diskHandle, IOCTL_DISK_GET_DISK_ATTRIBUTES, nullptr, 0, &current,
                       sizeof(current), &bytesReturned, nullptr)) {
    PrintWarningLine(L"Unable to get disk attributese.\n");
    return FailWithError(0);
  }
  const ULONGLONG blocking = current.Attributes & (DISK_ATTRIBUTE_OFFLINE | DISK_ATTRIBUTE_READ_ONLY);
  if (blocking == 0) return 0;
  SET_DISK_ATTRIBUTES change{};
  change.Version = sizeof(change);
  change.Persist = FALSE;  // for this attachment only
  change.Attributes = 0;
  change.AttributesMask = blocking;
  if (!DeviceIoControl(diskHandle, IOCTL_DISK_SET_DISK_ATTRIBUTES, &change, sizeof(change),
                       nullptr, 0, &bytesReturned, nullptr)) {
    PrintErrorLine(L"Unable to bring the virtual disk online and writable.\n");
    return FailWithError(0);
  }
  return 0;
}
