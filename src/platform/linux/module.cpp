#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "support/runtime/errors.h"
#include "support/runtime/text.h"
#include "win32_linux.h"

namespace {
// Longest executable path read; longer ones fail rather than grow further.
constexpr size_t kMaxLinkLength = 1 << 16;

bool ReadOwnExecutable(std::string& path) {
  std::string buffer(256, '\0');
  while (buffer.size() <= kMaxLinkLength) {
    const ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) < buffer.size()) {
      path.assign(buffer.data(), static_cast<size_t>(length));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
  errno = ENAMETOOLONG;
  return false;
}
}  // namespace

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  (void)module;  // the program asks only for its own executable
  std::string path;
  if (!ReadOwnExecutable(path)) {
    SetLastError(Win32FromErrno(errno));
    return 0;
  }
  const std::wstring wide = FromUtf8(path);
  if (size == 0 || fileName == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (wide.size() < size) {
    wmemcpy(fileName, wide.c_str(), wide.size() + 1);
    return static_cast<DWORD>(wide.size());
  }
  // Too small: the path is cut to fit with its terminator, as the system does.
  wmemcpy(fileName, wide.data(), size - 1);
  fileName[size - 1] = L'\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
