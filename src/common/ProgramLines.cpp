#include "common/ProgramLines.h"

#include <cstdarg>
#include <string>

#include "platform.h"

namespace {
int PrintPrefixed(const wchar_t* kind, const wchar_t* format, va_list arguments) {
  const std::wstring line = std::wstring(kProgramPrefix) + kind + format;
  return VPrintWide(line.c_str(), arguments);
}
}  // namespace

int PrintProgramLine(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int printed = PrintPrefixed(L"", format, arguments);
  va_end(arguments);
  return printed;
}

int PrintWarningLine(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int printed = PrintPrefixed(kWarningPrefix, format, arguments);
  va_end(arguments);
  return printed;
}

int PrintErrorLine(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int printed = PrintPrefixed(kErrorPrefix, format, arguments);
  va_end(arguments);
  return printed;
}
