// Wide formats with one meaning on every runtime: "%s" and "%c" take wide
// values.
#pragma once

#include <cstdarg>
#include <string>

// Copies a wide format with every "%s" and "%c" that has no length modifier
// written as "%ls" and "%lc". The runtimes disagree about the bare forms in
// wide formats (the classic one reads them as wide, the C99 one as narrow);
// the "l" forms mean wide on all of them.
std::wstring WithWideStrings(const wchar_t* format);

// Formats into a string that grows as needed, up to kMaxFormattedLength
// characters; a longer result is cut there.
std::wstring FormatWideText(const wchar_t* format, va_list arguments);

inline constexpr size_t kMaxFormattedLength = 1 << 20;
