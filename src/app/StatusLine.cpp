#include "app/StatusLine.h"

#include <cwchar>

#include "platform.h"

namespace {
void WriteText(HANDLE console, const wchar_t* text) {
  DWORD written = 0;
  WriteConsoleW(console, text, static_cast<DWORD>(wcslen(text)), &written, nullptr);
}
}  // namespace

void StatusLine::Begin(const wchar_t* text) {
  KeptLastError keep;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(console, &info);
  savedPosition = info.dwCursorPosition;
  WriteText(console, text);
}

void StatusLine::Rewrite(const wchar_t* text) {
  KeptLastError keep;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(console, &info);
  returnPosition = info.dwCursorPosition;
  SetConsoleCursorPosition(console, savedPosition);
  WriteText(console, text);
  SetConsoleCursorPosition(console, returnPosition);
}
