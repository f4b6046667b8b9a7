#include "common/Failure.h"

#include "common/ReportWin32Error.h"

int FailWithError(uint32_t code, const wchar_t* path) {
  return static_cast<int>(ReportWin32Error(code, path));
}
