#include "volumes/OpenDevice.h"

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
}  // namespace

HANDLE OpenDevice(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

HANDLE OpenDeviceToQuery(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
}
