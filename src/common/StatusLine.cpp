#include "common/StatusLine.h"

#include <cwchar>
#include <string>

#include "common/FormatWide.h"
#include "platform.h"

// Positions are absolute buffer positions. Where the buffer is no larger
// than the window (the pseudo console of a terminal), a line feed on its
// last row scrolls the whole buffer up and every saved row goes stale; the
// status line follows such scrolls so that it keeps being rewritten in place.

namespace {
void WriteText(HANDLE console, const wchar_t* text) {
  DWORD written = 0;
  WriteConsoleW(console, text, static_cast<DWORD>(wcslen(text)), &written, nullptr);
}

// Cursor and buffer size; zero when there is no console.
CONSOLE_SCREEN_BUFFER_INFO ScreenInfo(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(console, &info);
  return info;
}

// Rows the cursor goes down while `text` is written from `column` in a
// buffer `width` columns wide: one per line feed, one per wrap at the edge.
int RowsAdvanced(int column, const wchar_t* text, int width) {
  int rows = 0;
  for (; *text != L'\0'; ++text) {
    if (*text == L'\n') {
      ++rows;
      column = 0;
    } else if (*text == L'\r') {
      column = 0;
    } else {
      if (width > 0 && column >= width) {
        ++rows;
        column = 0;
      }
      ++column;
    }
  }
  return rows;
}

COORD Above(COORD position, int rows) {
  position.Y = static_cast<SHORT>(position.Y - rows);
  return position;
}

// A console whose text can be read back (not so a terminal under the Linux
// build, whose positions never go stale).
bool ReadableConsole(HANDLE console) {
  wchar_t character = 0;
  DWORD read = 0;
  return ReadConsoleOutputCharacterW(console, &character, 1, COORD{0, 0}, &read) != 0;
}
}  // namespace

// Writes the text at the cursor, which stands at `start`, and returns how
// many rows the buffer scrolled meanwhile: the rows the cursor should have
// gone down but did not. The buffer cannot scroll by more than that.
int StatusLine::WriteFollowingScroll(HANDLE console, const wchar_t* text, COORD start, int width) {
  WriteText(console, text);
  const COORD after = ScreenInfo(console).dwCursorPosition;
  const int advanced = RowsAdvanced(start.X, text, width);
  const int scrolled = start.Y + advanced - after.Y;
  if (width <= 0) return 0;  // no console to follow
  return scrolled > 0 && scrolled <= advanced ? scrolled : 0;
}

namespace {
// True when the console shows `text` at `position`. False also where the
// console cannot be read back.
bool ShowsTextAt(HANDLE console, COORD position, const std::wstring& text) {
  if (text.empty() || position.Y < 0) return false;
  std::wstring shown(text.size(), L'\0');
  DWORD read = 0;
  return ReadConsoleOutputCharacterW(console, &shown[0], static_cast<DWORD>(shown.size()),
                                     position, &read) &&
         read == shown.size() && shown == text;
}

// The first line of a status text, as the console shows it.
std::wstring FirstLine(const wchar_t* text) {
  std::wstring line(text);
  return line.substr(0, line.find_first_of(L"\r\n"));
}
}  // namespace

StatusLine::~StatusLine() {
  if (!unshownText.empty()) PrintFinalStatusText(unshownText.c_str());
}

CONSOLE_SCREEN_BUFFER_INFO StatusLine::ReadScreen(HANDLE console, const wchar_t* text) {
  const CONSOLE_SCREEN_BUFFER_INFO info = ScreenInfo(console);
  unshownText = info.dwSize.X > 0 ? std::wstring() : std::wstring(text);
  return info;
}

void StatusLine::WriteNewLine(HANDLE console, const wchar_t* text, COORD at, int width) {
  savedPosition = Above(at, WriteFollowingScroll(console, text, at, width));
  shownText = FirstLine(text);
}

void StatusLine::Begin(const wchar_t* text) {
  KeptLastError keep;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  const CONSOLE_SCREEN_BUFFER_INFO info = ReadScreen(console, text);
  WriteNewLine(console, text, info.dwCursorPosition, info.dwSize.X);
}

// Output printed since the last write may have scrolled the buffer. Where
// the console can be read and the saved row no longer shows this line, the
// line is looked for on the rows above; true when it was found (or cannot be
// checked), false when it scrolled out of the buffer.
bool StatusLine::FindShownLine(HANDLE console) {
  COORD probe = savedPosition;
  if (!ReadableConsole(console) || ShowsTextAt(console, probe, shownText)) return true;
  for (probe.Y = static_cast<SHORT>(savedPosition.Y - 1); probe.Y >= 0; --probe.Y) {
    if (ShowsTextAt(console, probe, shownText)) {
      savedPosition = probe;
      return true;
    }
  }
  return false;
}

void StatusLine::Rewrite(const wchar_t* text) {
  KeptLastError keep;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  const CONSOLE_SCREEN_BUFFER_INFO info = ReadScreen(console, text);
  returnPosition = info.dwCursorPosition;
  if (!FindShownLine(console)) {
    // The old line is gone: the new text goes on a line of its own rather
    // than over another line.
    WriteNewLine(console, text, returnPosition, info.dwSize.X);
    return;
  }
  SetConsoleCursorPosition(console, savedPosition);
  const int scrolled = WriteFollowingScroll(console, text, savedPosition, info.dwSize.X);
  savedPosition = Above(savedPosition, scrolled);
  returnPosition = Above(returnPosition, scrolled);
  SetConsoleCursorPosition(console, returnPosition);
  shownText = FirstLine(text);
}

void StatusLine::Finish(const wchar_t* text) {
  Rewrite(text);
  if (unshownText.empty()) return;
  PrintFinalStatusText(unshownText.c_str());
  unshownText.clear();
}

void StatusLine::ShowPercent(const wchar_t* what, int percent, bool first) {
  wchar_t text[kStatusTextSize];
  FormatWide(text, kStatusTextSize, L"%s ... %d%%\n", what, percent);
  if (first)
    Begin(text);
  else
    Rewrite(text);
}
