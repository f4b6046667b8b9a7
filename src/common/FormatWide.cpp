#include "common/FormatWide.h"

#include <cstdarg>

#include "platform.h"

int FormatWide(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = VFormatWideBounded(buffer, count, format, arguments);
  va_end(arguments);
  return result;
}
