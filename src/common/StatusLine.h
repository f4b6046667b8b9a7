#pragma once

#include <cstddef>
#include <string>

#include "win32.h"

// Room for the text of one status line, terminator included.
constexpr size_t kStatusTextSize = 1024;

// A console line that is written once and later rewritten in place while
// other output continues below it. The line follows the buffer when it
// scrolls under it. Without a console the console calls fail and their
// failures are ignored; the line's final text is handed to
// PrintFinalStatusText at Finish, or else when the line ends (its
// destruction), so that a log of a redirected run can keep it.
class StatusLine {
 public:
  StatusLine() = default;
  ~StatusLine();
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  void Begin(const wchar_t* text);
  void Rewrite(const wchar_t* text);
  // The last rewrite: without a console its text is printed at once, so
  // that a log holds it before the lines that follow it.
  void Finish(const wchar_t* text);
  // Shows "<what> ... N%": begins the line when `first`, else rewrites it.
  void ShowPercent(const wchar_t* what, int percent, bool first);

  COORD savedPosition{};
  COORD returnPosition{};

 private:
  int WriteFollowingScroll(HANDLE console, const wchar_t* text, COORD start, int width);
  bool FindShownLine(HANDLE console);
  // Reads the console's state; where there is no console, `text` is kept as
  // the line's final text.
  CONSOLE_SCREEN_BUFFER_INFO ReadScreen(HANDLE console, const wchar_t* text);
  // Writes `text` as the line, starting at `at`, and keeps where it lies.
  void WriteNewLine(HANDLE console, const wchar_t* text, COORD at, int width);

  // The first line of the latest text, as the console shows it.
  std::wstring shownText;
  // The latest text while there is no console to show it.
  std::wstring unshownText;
};
