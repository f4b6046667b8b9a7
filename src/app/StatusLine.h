#pragma once

#include "win32.h"

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
