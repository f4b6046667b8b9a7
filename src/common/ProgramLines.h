#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

// The program's own lines begin with its name; an error or a warning says so
// right after it. Every such line is printed through the functions below.
inline constexpr wchar_t kProgramPrefix[] = L"(Korvex) ";
inline constexpr wchar_t kErrorPrefix[] = L"!ERROR! ";
inline constexpr wchar_t kWarningPrefix[] = L"!WARNING! ";

// Prints "(Korvex) ", then `kind` ("" or one of the prefixes above), then the
// formatted text, in one print with PrintWide's conversions.
// Returns: the number of characters printed, prefixes included, or -1 when
// standard output could not be written.
int PrintPrefixedLine(const wchar_t* kind, const wchar_t* format, ...);

// Each prints its prefixes and the formatted text as PrintPrefixedLine does.
// Returns: PrintPrefixedLine's count. A failing operation hands
// PrintErrorLine's result back to its caller (never 0); the program's exit
// code after a failed mount is this count.
template <typename... Arguments>
int PrintProgramLine(const wchar_t* format, Arguments... arguments) {  // "(Korvex) "
  return PrintPrefixedLine(L"", format, arguments...);
}
template <typename... Arguments>
int PrintWarningLine(const wchar_t* format, Arguments... arguments) {  // "(Korvex) !WARNING! "
  return PrintPrefixedLine(kWarningPrefix, format, arguments...);
}
template <typename... Arguments>
int PrintErrorLine(const wchar_t* format, Arguments... arguments) {  // "(Korvex) !ERROR! "
  return PrintPrefixedLine(kErrorPrefix, format, arguments...);
}

// Returns: bytes as a person reads them at a glance: "512 bytes",
// "8.0 MiB", "3.5 GiB" (to the nearest tenth; 1023.96 KiB is "1.0 MiB").
std::wstring ReadableSize(uint64_t bytes);

// Returns: the items joined by ", " and by `last` before the last one:
// "a", "a and b", "a, b and c".
std::wstring JoinedList(const std::vector<std::wstring>& items, const wchar_t* last = L" and ");

// Every text from outside the program that a line quotes (the image's path,
// names from the image or the command line, device paths, folders) goes
// through PrintableName (platform/printable_name.h, through platform.h).
