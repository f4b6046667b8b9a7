// How an entry point sets the last error: once, where it returns.
#pragma once

#include "win32_linux.h"

// Sets the last error to `code`. Returns: FALSE, as the calls that report
// failure through BOOL do.
inline BOOL FailWith(DWORD code) {
  SetLastError(code);
  return FALSE;
}
