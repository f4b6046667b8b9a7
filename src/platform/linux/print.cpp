#include <cstdarg>

#include "platform.h"
#include "support/output.h"
#include "support/text.h"
#include "support/wide_format.h"

const wchar_t kPathSeparator = L'/';
const wchar_t kExecutableExtension[] = L"";
const wchar_t kDrivePrefix[] = L"PhysicalDrive";

int PrintWide(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::wstring text = FormatWideText(format, arguments, false);
  va_end(arguments);
  if (!WriteStandardOutput(ToUtf8(text))) return -1;
  return static_cast<int>(text.size());
}

int PrintNarrow(const char* format, ...) {
  // Narrow formats follow the same rules, with "%s" taking narrow text.
  const std::wstring wideFormat = FromUtf8(format == nullptr ? "" : format);
  va_list arguments;
  va_start(arguments, format);
  const std::wstring text = FormatWideText(wideFormat.c_str(), arguments, true);
  va_end(arguments);
  const std::string bytes = ToUtf8(text);
  if (!WriteStandardOutput(bytes)) return -1;
  return static_cast<int>(bytes.size());
}

int PrintWideText(const wchar_t* text) {
  if (text == nullptr) return 0;
  const std::string bytes = ToUtf8(text);
  if (!WriteStandardOutput(bytes)) return -1;
  return static_cast<int>(wcslen(text));
}

int VFormatWideBounded(wchar_t* buffer, size_t count, const wchar_t* format,
                       va_list arguments) {
  WideSink sink(buffer, count);
  va_list copy;
  va_copy(copy, arguments);
  FormatWideInto(sink, format, &copy, false);
  va_end(copy);
  sink.Terminate();
  return sink.IsCut() ? -1 : static_cast<int>(sink.Length());
}
