#include "volumes/OpenDevice.h"

HANDLE OpenDevice(const std::wstring& path, DWORD flags) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}
