#pragma once

// The program's own lines begin with its name; an error or a warning says so
// right after it. Every such line is printed through the functions below.
inline constexpr wchar_t kProgramPrefix[] = L"(Korvex) ";
inline constexpr wchar_t kErrorPrefix[] = L"!ERROR! ";
inline constexpr wchar_t kWarningPrefix[] = L"!WARNING! ";

// Each prints its prefixes followed by the formatted text, in one print with
// PrintWide's conversions.
// Returns: the number of characters printed, prefixes included, or -1 when
// standard output could not be written. A failing operation hands
// PrintErrorLine's result back to its caller (never 0); the program's exit
// code after a failed mount is this count.
int PrintProgramLine(const wchar_t* format, ...);  // "(Korvex) "
int PrintWarningLine(const wchar_t* format, ...);  // "(Korvex) !WARNING! "
int PrintErrorLine(const wchar_t* format, ...);    // "(Korvex) !ERROR! "
