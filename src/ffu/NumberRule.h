#pragma once

#include <cstdint>
#include <string>

enum NumberResult {
  kNumberValid = 0,
  kNumberInvalid = 1,     // no digit at all
  kNumberOutOfRange = 2,  // magnitude above 4294967295
};

// Reads a manifest number: leading white space, an optional sign, then
// decimal digits up to the first other character. A minus sign negates the
// value modulo 2^32. `value` is set only for a valid number.
NumberResult ParseManifestNumber(const std::string& text, uint32_t* value);
