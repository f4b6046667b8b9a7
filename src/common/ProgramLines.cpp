#include "common/ProgramLines.h"

#include <cstdarg>
#include <string>

#include "platform.h"

int PrintPrefixedLine(const wchar_t* kind, const wchar_t* format, ...) {
  const std::wstring line = std::wstring(kProgramPrefix) + kind + format;
  va_list arguments;
  va_start(arguments, format);
  int printed = VPrintWide(line.c_str(), arguments);
  va_end(arguments);
  return printed;
}
