// The process environment, read as wide text, and the machine it runs on.
#include <sched.h>
#include <unistd.h>

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

void GetSystemInfo(LPSYSTEM_INFO systemInfo) {
  *systemInfo = SYSTEM_INFO{};
  systemInfo->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
  // The processors this process may use, as Windows counts those of its
  // group; all that are on line when the affinity cannot be read.
  cpu_set_t set;
  CPU_ZERO(&set);
  long count = sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set)
                                                            : sysconf(_SC_NPROCESSORS_ONLN);
  systemInfo->dwNumberOfProcessors = count > 0 ? static_cast<DWORD>(count) : 1;
}
