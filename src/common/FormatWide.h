#pragma once

#include <cstddef>

// Bounded wide formatting into a caller's buffer: never writes past
// `count` characters and always leaves the text terminated.
// Returns: the characters written, terminator not counted, or -1 when the
// text was cut.
int FormatWide(wchar_t* buffer, size_t count, const wchar_t* format, ...);
