#include "common/Failure.h"

#include <cstdarg>

#include "common/ReportWin32Error.h"
#include "platform.h"

int FailWithLine(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int printed = VPrintWide(format, arguments);
  va_end(arguments);
  return printed;
}

int FailWithError(uint32_t code, const wchar_t* path) {
  return static_cast<int>(ReportWin32Error(code, path));
}
