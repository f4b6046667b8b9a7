// Printing to standard output. Wide text is formatted first and then
// written whole: to a console through the console API, which shows every
// character; to a file or pipe as bytes of the console's code page, with
// unmappable characters replaced, through the runtime's text-mode stream that
// turns each "\n" into CR LF. (The runtime's own wide printing stops at the
// first character that its locale cannot map, which would cut a line that
// holds an unusual path; a CR before a LF is dropped, as the stream adds
// its own.) Every print is flushed at once: the status lines
// are written with the console API past the runtime's buffer and must appear
// in program order. Every print keeps the caller's last error: the console
// query fails on a file or pipe and sets error 6, and callers print a line
// before they report the last error.
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform.h"
#include "wide_format.h"

namespace {
bool IsConsole(HANDLE output) {
  DWORD mode = 0;
  return output != nullptr && output != INVALID_HANDLE_VALUE &&
         GetConsoleMode(output, &mode) != 0;
}

void WriteToConsole(HANDLE console, const wchar_t* text, size_t length) {
  while (length > 0) {
    DWORD chunk = length > 16384 ? 16384 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteConsoleW(console, text, chunk, &written, nullptr) || written == 0) return;
    text += written;
    length -= written;
  }
}

// The stream turns every LF into CR LF; a CR LF of the text (the system's
// error texts end so) would come out as CR CR LF. Such a CR is dropped here.
std::wstring WithoutCrBeforeLf(const wchar_t* text, size_t length) {
  std::wstring out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i)
    if (!(text[i] == L'\r' && i + 1 < length && text[i + 1] == L'\n')) out += text[i];
  return out;
}

void WriteToStream(const wchar_t* rawText, size_t rawLength) {
  const std::wstring lines = WithoutCrBeforeLf(rawText, rawLength);
  const wchar_t* text = lines.data();
  const size_t length = lines.size();
  if (length == 0) return;
  UINT codePage = GetConsoleOutputCP();
  if (codePage == 0) codePage = GetACP();
  // UTF-8 and the other stateful code pages refuse a default character.
  bool takesDefault = codePage != CP_UTF8 && codePage != CP_UTF7;
  int wideLength = static_cast<int>(length);
  int size = WideCharToMultiByte(codePage, 0, text, wideLength, nullptr, 0,
                                 takesDefault ? "?" : nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text, wideLength, &bytes[0], size,
                      takesDefault ? "?" : nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int WriteWide(const wchar_t* text, size_t length) {
  fflush(stdout);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsConsole(output))
    WriteToConsole(output, text, length);
  else
    WriteToStream(text, length);
  fflush(stdout);
  return static_cast<int>(length);
}
}  // namespace

int VPrintWide(const wchar_t* format, va_list arguments) {
  if (format == nullptr) return -1;
  KeptLastError keep;
  std::wstring text = FormatWideText(format, arguments);
  return WriteWide(text.data(), text.size());
}

int PrintNarrow(const char* format, ...) {
  KeptLastError keep;
  va_list arguments;
  va_start(arguments, format);
  int printed = vfprintf(stdout, format, arguments);
  va_end(arguments);
  fflush(stdout);
  return printed;
}

int PrintWideText(const wchar_t* text) {
  if (text == nullptr) return 0;
  KeptLastError keep;
  return WriteWide(text, wcslen(text));
}

void PrintFinalStatusText(const wchar_t* text) {
  if (text == nullptr) return;
  KeptLastError keep;
  std::wstring line(text);
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  while (!line.empty() && line.back() == L' ') line.pop_back();
  line += L'\n';
  WriteWide(line.data(), line.size());
}
