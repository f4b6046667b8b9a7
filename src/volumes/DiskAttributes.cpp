#include "volumes/DiskAttributes.h"

#include "common/Failure.h"
#include "platform.h"

namespace {
constexpr ULONG kDiskAttributesVersion = 16;
}

int UpdateDiskProperties(HANDLE& diskHandle) {
  DWORD bytesReturned = 0;
  if (!DeviceIoControl(diskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                       &bytesReturned, nullptr)) {
    PrintWide(L"(Korvex) !WARNING! Unable to update disk properties.\n");
    return FailWithError(0);
  }
  GET_DISK_ATTRIBUTES attributes{};
  attributes.Version = kDiskAttributesVersion;
  if (!DeviceIoControl(diskHandle, IOCTL_DISK_GET_DISK_ATTRIBUTES, nullptr, 0, &attributes,
                       sizeof(attributes), &bytesReturned, nullptr)) {
    PrintWide(L"(Korvex) !WARNING! Unable to get disk attributese.\n");
    return FailWithError(0);
  }
  return 0;
}
