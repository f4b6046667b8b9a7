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
// value modulo 2^32.
// Returns: kNumberValid with `value` set; kNumberInvalid when there is no
// digit, kNumberOutOfRange when the magnitude is above 4294967295, `value`
// left as it was in both.
NumberResult ParseManifestNumber(const std::string& text, uint32_t* value);
// The same rule for counts that may pass 32 bits, such as a disk's sectors:
// a number without a minus sign may go up to 18446744073709551615; one with
// it reads as above.
NumberResult ParseManifestNumber(const std::string& text, uint64_t* value);
