#include "common/StatusLine.h"

#include <cwchar>

namespace {
void WriteText(HANDLE console, const wchar_t* text) {
  DWORD written = 0;
  WriteConsoleW(console, text, static_cast<DWORD>(wcslen(text)), &written, nullptr);
}

// The cursor position; zero when there is no console.
COORD CursorPosition(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(console, &info);
  return info.dwCursorPosition;
}
}  // namespace

void StatusLine::Begin(const wchar_t* text) {
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  savedPosition = CursorPosition(console);
  WriteText(console, text);
}

void StatusLine::Rewrite(const wchar_t* text) {
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  returnPosition = CursorPosition(console);
  SetConsoleCursorPosition(console, savedPosition);
  WriteText(console, text);
  SetConsoleCursorPosition(console, returnPosition);
}
