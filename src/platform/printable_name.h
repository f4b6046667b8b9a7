// The one filter for text that comes from outside the program (image paths,
// names read from an image, device paths, mount folders) before it is
// printed. Both builds' platform layers print such text too (the folder
// that could not be opened, a refused temporary folder), so it lives here,
// below the program's own lines.
#pragma once

#include <string>

// A name as it may be printed: control characters (C0, DEL and C1) and the
// bidirectional embeddings, overrides and isolates (U+202A-202E,
// U+2066-2069) become '?', so that no name can move the cursor, recolour or
// retitle the terminal, or turn itself around on screen. So does a surrogate
// that is not half of a pair (with 32-bit wide characters, every one): the
// Linux layer prints U+DC80-DCFF as the raw byte it stands for, which would
// let a C1 control through.
inline std::wstring PrintableName(const std::wstring& name) {
  auto high = [](wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto low = [](wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  std::wstring text;
  text.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const wchar_t unit = name[i];
    const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    const bool bidirectional =
        (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
    bool lone = high(unit) || low(unit);
    if (sizeof(wchar_t) == 2 && high(unit) && i + 1 < name.size() && low(name[i + 1])) {
      text += unit;
      text += name[++i];
      continue;
    }
    text += control || bidirectional || lone ? L'?' : unit;
  }
  return text;
}
