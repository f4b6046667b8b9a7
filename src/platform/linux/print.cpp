#include <cstdarg>

#include "platform.h"
#include "support/runtime/output.h"
#include "support/runtime/text.h"
#include "support/runtime/wide_format.h"

namespace {
// Printing asks whether standard output is a console, as the Windows build
// does before it picks the console or the stream. On a file or a pipe that
// query fails and sets the last error (6), there as here; every print keeps
// the caller's last error across it, so that a line printed before
// ReportWin32Error(0) does not change what that reports.
void AskForConsole() {
  DWORD mode = 0;
  GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}
}  // namespace

int VPrintWide(const wchar_t* format, va_list arguments) {
  KeptLastError keep;
  AskForConsole();
  const std::wstring text = FormatWideText(format, arguments, false);
  if (!WriteStandardOutput(ToUtf8(text))) return -1;
  return static_cast<int>(text.size());
}

int PrintNarrow(const char* format, ...) {
  KeptLastError keep;
  AskForConsole();
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
  KeptLastError keep;
  AskForConsole();
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

// Redirected output here keeps no status lines (see platform.h).
void PrintFinalStatusText(const wchar_t*) {}
