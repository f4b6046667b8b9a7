#pragma once

#include <cstddef>

#include "win32.h"

// Room for the text of one status line, terminator included.
constexpr size_t kStatusTextSize = 1024;

// A console line that is written once and later rewritten in place while
// other output continues below it. Without a console both calls do nothing
// visible: the console calls fail and their failures are ignored.
class StatusLine {
 public:
  void Begin(const wchar_t* text);
  void Rewrite(const wchar_t* text);

  COORD savedPosition{};
  COORD returnPosition{};
};
