// The process environment, read as wide text.
#include <cstdlib>
#include <cwchar>
#include <string>

#include "support/runtime/text.h"
#include "win32_linux.h"

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* value = std::getenv(ToUtf8(name).c_str());
  if (value == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const std::wstring wide = FromUtf8(value);
  // Too small a buffer: the size it needs, terminator included.
  if (buffer == nullptr || wide.size() >= size) return static_cast<DWORD>(wide.size() + 1);
  wmemcpy(buffer, wide.c_str(), wide.size() + 1);
  return static_cast<DWORD>(wide.size());
}
