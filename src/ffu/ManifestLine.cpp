#include "ffu/ManifestLine.h"

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first position at or after `at` that does not hold white space.
size_t SkipBlanks(std::string_view line, size_t at) {
  while (at < line.size() && IsBlank(line[at])) ++at;
  return at;
}

// The start of the run of white space that ends the line, not before `floor`.
size_t TrailingBlanksStart(std::string_view line, size_t floor) {
  size_t at = line.size();
  while (at > floor && IsBlank(line[at - 1])) --at;
  return at;
}
}  // namespace

bool MatchCategoryLine(std::string_view line, std::string_view* name) {
  const size_t open = SkipBlanks(line, 0);
  if (open == line.size() || line[open] != '[') return false;
  // The name cannot hold "]", so the first one closes it.
  const size_t close = line.find(']', open + 1);
  if (close == std::string_view::npos || close == open + 1) return false;
  if (line.back() != '\r' || close + 1 == line.size()) return false;
  if (TrailingBlanksStart(line, close + 1) != close + 1) return false;
  *name = line.substr(open + 1, close - open - 1);
  return true;
}

bool MatchEntryLine(std::string_view line, std::string_view* key, std::string_view* value) {
  const size_t keyStart = SkipBlanks(line, 0);
  size_t keyEnd = keyStart;
  while (keyEnd < line.size() && line[keyEnd] != '=' && !IsBlank(line[keyEnd])) ++keyEnd;
  if (keyEnd == keyStart) return false;
  const size_t equals = SkipBlanks(line, keyEnd);
  if (equals == line.size() || line[equals] != '=') return false;
  const size_t rest = equals + 1;
  if (rest == line.size() || line.back() != '\r') return false;
  // The final CR always stays for the end of the line.
  size_t valueStart = SkipBlanks(line, rest);
  if (valueStart > line.size() - 1) valueStart = line.size() - 1;
  // The value cannot hold a CR; from the first one on, only white space may
  // follow. There is one: the line ends in a CR.
  const size_t valueEnd = line.find('\r', valueStart);
  if (valueEnd < TrailingBlanksStart(line, rest)) return false;
  *key = line.substr(keyStart, keyEnd - keyStart);
  *value = line.substr(valueStart, valueEnd - valueStart);
  return true;
}
