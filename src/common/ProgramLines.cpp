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

std::wstring ReadableSize(uint64_t bytes) {
  static const wchar_t* const kUnits[] = {L"KiB", L"MiB", L"GiB", L"TiB", L"PiB", L"EiB"};
  if (bytes < 1024) return std::to_wstring(bytes) + L" bytes";
  int unit = 0;
  uint64_t unitBytes = 1024;
  while (unit < 5 && bytes >= unitBytes * 1024 - unitBytes / 20) {
    unitBytes *= 1024;
    ++unit;
  }
  // In tenths of the unit, to the nearest; with a unit of at most 2^60
  // bytes, ten remainders and a half unit stay within 64 bits.
  uint64_t tenths = bytes / unitBytes * 10 + (bytes % unitBytes * 10 + unitBytes / 2) / unitBytes;
  return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L" " + kUnits[unit];
}

std::wstring JoinedList(const std::vector<std::wstring>& items, const wchar_t* last) {
  std::wstring text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? last : L", ";
    text += items[i];
  }
  return text;
}
