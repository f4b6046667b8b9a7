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

std::wstring PrintableName(const std::wstring& name) {
  std::wstring text;
  text.reserve(name.size());
  for (wchar_t unit : name) {
    const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    text += control ? L'?' : unit;
  }
  return text;
}
