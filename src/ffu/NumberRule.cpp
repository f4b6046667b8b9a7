#include "ffu/NumberRule.h"

namespace {
bool IsManifestSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// The rule with the largest magnitude `limit`; a minus sign negates modulo
// limit + 1. `negative` tells whether the text had one.
NumberResult ParseNumberUpTo(const std::string& text, uint64_t limit, uint64_t* value,
                             bool* negative) {
  size_t at = 0;
  while (at < text.size() && IsManifestSpace(text[at])) ++at;
  *negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    *negative = text[at] == '-';
    ++at;
  }
  uint64_t magnitude = 0;
  size_t digits = 0;
  bool overflow = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    ++digits;
    const uint64_t digit = static_cast<uint64_t>(text[at] - '0');
    // Keep scanning the digits but stop growing once out of range.
    if (overflow || magnitude > (limit - digit) / 10) overflow = true;
    else magnitude = magnitude * 10 + digit;
  }
  if (digits == 0) return kNumberInvalid;
  if (overflow) return kNumberOutOfRange;
  *value = *negative ? (0 - magnitude) & limit : magnitude;
  return kNumberValid;
}
}  // namespace

NumberResult ParseManifestNumber(const std::string& text, uint32_t* value) {
  uint64_t wide = 0;
  bool negative = false;
  const NumberResult result = ParseNumberUpTo(text, 0xFFFFFFFFull, &wide, &negative);
  if (result == kNumberValid) *value = static_cast<uint32_t>(wide);
  return result;
}

NumberResult ParseManifestNumber(const std::string& text, uint64_t* value) {
  uint64_t narrow = 0;
  bool negative = false;
  NumberResult result = ParseNumberUpTo(text, 0xFFFFFFFFull, &narrow, &negative);
  if (result == kNumberOutOfRange && !negative)
    result = ParseNumberUpTo(text, ~uint64_t{0}, &narrow, &negative);
  if (result == kNumberValid) *value = narrow;
  return result;
}
