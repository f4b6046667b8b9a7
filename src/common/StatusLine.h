#pragma once

#include <cstddef>
#include <string>

#include "win32.h"

// Room for the text of one status line, terminator included.
constexpr size_t kStatusTextSize = 1024;

// A console line that is written once and later rewritten in place while
// other output continues below it. Without a console both calls do nothing
// visible: the console calls fail and their failures are ignored. The line
// follows the buffer when it scrolls under it.
class StatusLine {
 public:
  void Begin(const wchar_t* text);
  void Rewrite(const wchar_t* text);

  COORD savedPosition{};
  COORD returnPosition{};

 private:
  int WriteFollowingScroll(HANDLE console, const wchar_t* text, COORD start, int width);
  bool FindShownLine(HANDLE console);

  // The first line of the latest text, as the console shows it.
  std::wstring shownText;
};
