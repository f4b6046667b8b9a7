#pragma once

#include <string_view>

// The two shapes of a manifest line (the line without its LF), matched in
// one pass over the line. Both shapes must fill the whole line and end in a
// CR. White space is space, tab, LF, vertical tab, form feed and CR; no byte
// from 0x80 up counts as white space.
//
// Category line: white space, "[", a name of one or more characters other
// than "]", "]", white space, CR.
//
// Entry line: white space, a key of one or more characters that are neither
// "=" nor white space, white space, "=", then the value. The white space
// right after "=" is skipped as far as it goes, except for the line's last
// character; the value runs from there to the first CR after it; everything
// from that CR to the end of the line must be white space. So white space at
// the end of the value belongs to the value, and a value holds no CR.

// Returns: true for a category line, with `name` set to the text between
// the brackets; false otherwise, `name` left as it was.
bool MatchCategoryLine(std::string_view line, std::string_view* name);

// Returns: true for an entry line, with `key` and `value` set; false
// otherwise, both left as they were.
bool MatchEntryLine(std::string_view line, std::string_view* key, std::string_view* value);
