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
// retitle the terminal, or turn itself around on screen.
inline std::wstring PrintableName(const std::wstring& name) {
  std::wstring text;
  text.reserve(name.size());
  for (wchar_t unit : name) {
    const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    const bool bidirectional =
        (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
    text += control || bidirectional ? L'?' : unit;
  }
  return text;
}
