#include "compression/HuffmanCode.h"

#include <cstring>

bool HuffmanCode::Build(const uint8_t* lengths, size_t count) {
  std::memset(lengthCount, 0, sizeof(lengthCount));
  std::memset(table, 0, sizeof(table));
  for (size_t symbol = 0; symbol < count; symbol++) {
    if (lengths[symbol] > kMaxLength) return false;
    lengthCount[lengths[symbol]]++;
  }
  lengthCount[0] = 0;
  // Room left for codes at each length: more codes than room is no code.
  int64_t room = 1;
  uint32_t code = 0, index = 0;
  for (int length = 1; length <= kMaxLength; length++) {
    room = room * 2 - lengthCount[length];
    if (room < 0) return false;
    code = (code + (length > 1 ? lengthCount[length - 1] : 0)) << 1;
    firstCode[length] = code;
    firstIndex[length] = index;
    index += lengthCount[length];
  }
  sorted.assign(index, 0);
  uint32_t next[kMaxLength + 1];
  std::memcpy(next, firstIndex, sizeof(next));
  for (size_t symbol = 0; symbol < count; symbol++) {
    int length = lengths[symbol];
    if (length == 0) continue;
    uint32_t position = next[length]++;
    sorted[position] = static_cast<uint16_t>(symbol);
    if (length > kTableBits) continue;
    uint32_t symbolCode = firstCode[length] + (position - firstIndex[length]);
    uint32_t first = symbolCode << (kTableBits - length);
    uint32_t span = 1u << (kTableBits - length);
    for (uint32_t slot = first; slot < first + span; slot++)
      table[slot] = static_cast<uint16_t>(symbol << 5 | length);
  }
  return true;
}

int HuffmanCode::DecodeLong(uint32_t bits, int& length) const {
  for (int bitLength = kTableBits + 1; bitLength <= kMaxLength; bitLength++) {
    uint32_t code = bits >> (kMaxLength - bitLength);
    uint32_t offset = code - firstCode[bitLength];
    if (code >= firstCode[bitLength] && offset < lengthCount[bitLength]) {
      length = bitLength;
      return sorted[firstIndex[bitLength] + offset];
    }
  }
  return -1;
}
