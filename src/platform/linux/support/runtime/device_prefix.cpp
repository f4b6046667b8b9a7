#include "device_prefix.h"

const wchar_t kDrivePrefix[] = L"PhysicalDrive";

std::wstring DriveDeviceName(int number) {
  return std::wstring(L"\\\\.\\") + kDrivePrefix + std::to_wstring(number);
}
