#include "ffu/NumberRule.h"

namespace {
bool IsManifestSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}
}  // namespace

NumberResult ParseManifestNumber(const std::string& text, uint32_t* value) {
  size_t at = 0;
  while (at < text.size() && IsManifestSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  uint64_t magnitude = 0;
  size_t digits = 0;
  bool overflow = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    ++digits;
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[at] - '0');
    // Keep scanning the digits but stop growing once out of range.
    if (magnitude > 0xFFFFFFFFull) {
      overflow = true;
      magnitude = 0x100000000ull;
    }
  }
  if (digits == 0) return kNumberInvalid;
  if (overflow) return kNumberOutOfRange;
  uint32_t result = static_cast<uint32_t>(magnitude);
  if (negative) result = 0u - result;
  *value = result;
  return kNumberValid;
}
