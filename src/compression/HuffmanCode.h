#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A canonical prefix code, as both compressed formats write them: codes
// given by their lengths alone (0: the symbol is not used), shorter codes
// first, equal lengths in symbol order, read most significant bit first.
class HuffmanCode {
 public:
  static constexpr int kMaxLength = 16;

  // Builds the code of `count` symbols from their lengths (at most
  // kMaxLength each).
  // Returns: false when the lengths give no prefix code (more codes of a
  // length than there is room for). A code that leaves room unused is
  // accepted; a symbol that falls into that room fails to decode.
  bool Build(const uint8_t* lengths, size_t count);

  // Decodes one symbol from the next kMaxLength bits `bits` (the first bit
  // of the symbol in the highest place).
  // Returns: the symbol, with its length in `length`; -1 when `bits` start
  // with no code of this set.
  int Decode(uint32_t bits, int& length) const {
    uint16_t entry = table[bits >> (kMaxLength - kTableBits)];
    if (entry != 0) {
      length = entry & 0x1F;
      return entry >> 5;
    }
    return DecodeLong(bits, length);
  }

 private:
  static constexpr int kTableBits = 10;
  int DecodeLong(uint32_t bits, int& length) const;

  uint16_t table[1 << kTableBits] = {};  // symbol << 5 | length; 0: longer or unused
  uint32_t firstCode[kMaxLength + 2] = {};
  uint32_t firstIndex[kMaxLength + 2] = {};
  uint32_t lengthCount[kMaxLength + 1] = {};
  std::vector<uint16_t> sorted;
};
