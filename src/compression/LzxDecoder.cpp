#include "compression/LzxDecoder.h"

#include <cstring>

#include "compression/HuffmanCode.h"
#include "formats/LittleEndian.h"

namespace {

constexpr size_t kWindowSize = 32768;
constexpr int kOffsetSlots = 30;
constexpr int kMainSymbols = 256 + 8 * kOffsetSlots;
constexpr int kLengthSymbols = 249;
constexpr int kPretreeSymbols = 20;
constexpr int kAlignedSymbols = 8;
constexpr int32_t kTranslationSize = 12000000;

enum BlockType : uint32_t { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

// 16-bit little-endian words, each read from its highest bit down. Reading
// past the end gives zero bits, so that a code can be looked up near the
// end; Overrun tells whether such bits were used.
class BitReader {
 public:
  BitReader(const uint8_t* in, size_t size) : in(in), size(size) {}

  uint32_t Peek(int count) {
    Fill();
    return static_cast<uint32_t>(buffer >> (64 - count));
  }
  void Skip(int count) {
    buffer <<= count;
    held -= count;
  }
  uint32_t Read(int count) {
    if (count == 0) return 0;
    uint32_t value = Peek(count);
    Skip(count);
    return value;
  }
  // Bits taken so far.
  uint64_t Consumed() const { return next * 8 - held; }
  bool Overrun() const { return Consumed() > size * 8; }
  // Moves to the next word: past the rest of this one, or past a whole
  // word when the last read ended on a word's end.
  void Align() {
    uint64_t used = Consumed() % 16;
    Fill();
    Skip(static_cast<int>(16 - used));
  }
  // After Align: `count` bytes as they lie, from the byte reached.
  bool TakeBytes(uint8_t* into, size_t count) {
    size_t at = static_cast<size_t>(Consumed() / 8);
    if (at > size || count > size - at) return false;
    std::memcpy(into, in + at, count);
    next = at + count;
    buffer = 0;
    held = 0;
    return true;
  }

 private:
  void Fill() {
    while (held <= 48) {
      uint64_t word = 0;
      if (next < size) word = in[next];
      if (next + 1 < size) word |= static_cast<uint64_t>(in[next + 1]) << 8;
      buffer |= word << (48 - held);
      held += 16;
      next += 2;
    }
  }

  const uint8_t* in;
  size_t size;
  size_t next = 0;
  uint64_t buffer = 0;
  int held = 0;
};

struct OffsetSlots {
  uint32_t base[kOffsetSlots];
  uint8_t extraBits[kOffsetSlots];
  OffsetSlots() {
    uint32_t at = 0;
    for (int slot = 0; slot < kOffsetSlots; slot++) {
      extraBits[slot] = static_cast<uint8_t>(slot < 4 ? 0 : slot / 2 - 1);
      base[slot] = at;
      at += 1u << extraBits[slot];
    }
  }
};
const OffsetSlots kSlots;

class LzxChunk {
 public:
  LzxChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize)
      : bits(in, inSize), out(out), outSize(outSize) {}

  bool Decode() {
    while (written < outSize) {
      if (!DecodeBlock() || bits.Overrun()) return false;
    }
    return true;
  }

 private:
  int Symbol(const HuffmanCode& code) {
    int length = 0;
    int symbol = code.Decode(bits.Peek(HuffmanCode::kMaxLength), length);
    if (symbol >= 0) bits.Skip(length);
    return symbol;
  }

  // Code lengths sent as changes to the previous ones, through a pretree.
  bool ReadLengths(uint8_t* lengths, int count) {
    uint8_t pretreeLengths[kPretreeSymbols];
    for (uint8_t& length : pretreeLengths) length = static_cast<uint8_t>(bits.Read(4));
    HuffmanCode pretree;
    if (!pretree.Build(pretreeLengths, kPretreeSymbols)) return false;
    for (int i = 0; i < count;) {
      int symbol = Symbol(pretree);
      int run = 1;
      if (symbol < 0 || bits.Overrun()) return false;
      if (symbol == 17 || symbol == 18) {
        run = symbol == 17 ? 4 + bits.Read(4) : 20 + bits.Read(5);
        if (run > count - i) return false;
        std::memset(lengths + i, 0, run);
        i += run;
        continue;
      }
      if (symbol == 19) {
        run = 4 + bits.Read(1);
        symbol = Symbol(pretree);
        if (symbol < 0 || symbol > 16 || run > count - i) return false;
      }
      uint8_t value = static_cast<uint8_t>((lengths[i] + 17 - symbol) % 17);
      for (int k = 0; k < run; k++) lengths[i + k] = value;
      i += run;
    }
    return true;
  }

  bool ReadTrees(BlockType type) {
    if (type == kAligned) {
      uint8_t alignedLengths[kAlignedSymbols];
      for (uint8_t& length : alignedLengths) length = static_cast<uint8_t>(bits.Read(3));
      if (!aligned.Build(alignedLengths, kAlignedSymbols)) return false;
    }
    return ReadLengths(mainLengths, 256) && ReadLengths(mainLengths + 256, kMainSymbols - 256) &&
           ReadLengths(lengthLengths, kLengthSymbols) &&
           main.Build(mainLengths, kMainSymbols) && length.Build(lengthLengths, kLengthSymbols);
  }

  bool DecodeBlock() {
    auto type = static_cast<BlockType>(bits.Read(3));
    size_t blockSize = bits.Read(1) ? kWindowSize : bits.Read(16);
    if (blockSize == 0 || blockSize > outSize - written) return false;
    if (type == kUncompressed) return CopyStored(blockSize);
    if (type != kVerbatim && type != kAligned) return false;
    if (!ReadTrees(type)) return false;
    size_t end = written + blockSize;
    while (written < end) {
      if (bits.Overrun() || !DecodeItem(type, end)) return false;
    }
    return true;
  }

  bool CopyStored(size_t blockSize) {
    bits.Align();
    uint8_t offsets[12];
    if (!bits.TakeBytes(offsets, sizeof(offsets))) return false;
    for (int i = 0; i < 3; i++) recent[i] = LoadLittle<uint32_t>(offsets + 4 * i);
    if (!bits.TakeBytes(out + written, blockSize)) return false;
    written += blockSize;
    uint8_t pad;
    return blockSize % 2 == 0 || bits.TakeBytes(&pad, 1) || written == outSize;
  }

  bool DecodeItem(BlockType type, size_t end) {
    int symbol = Symbol(main);
    if (symbol < 0) return false;
    if (symbol < 256) {
      out[written++] = static_cast<uint8_t>(symbol);
      return true;
    }
    symbol -= 256;
    size_t matchLength = symbol & 7;
    if (matchLength == 7) {
      int extra = Symbol(length);
      if (extra < 0) return false;
      matchLength += extra;
    }
    matchLength += 2;
    uint32_t offset;
    if (!MatchOffset(type, symbol >> 3, offset)) return false;
    if (offset == 0 || offset > written || matchLength > end - written) return false;
    for (size_t i = 0; i < matchLength; i++, written++) out[written] = out[written - offset];
    return true;
  }

  bool MatchOffset(BlockType type, int slot, uint32_t& offset) {
    if (slot < 3) {
      offset = recent[slot];
      recent[slot] = recent[0];
      recent[0] = offset;
      return true;
    }
    int extra = kSlots.extraBits[slot];
    uint32_t value = kSlots.base[slot];
    if (type == kAligned && extra >= 3) {
      int symbol;
      value += bits.Read(extra - 3) << 3;
      if ((symbol = Symbol(aligned)) < 0) return false;
      value += symbol;
    } else {
      value += bits.Read(extra);
    }
    offset = value - 2;
    recent[2] = recent[1];
    recent[1] = recent[0];
    recent[0] = offset;
    return true;
  }

  BitReader bits;
  uint8_t* out;
  size_t outSize;
  size_t written = 0;
  uint32_t recent[3] = {1, 1, 1};
  uint8_t mainLengths[kMainSymbols] = {};
  uint8_t lengthLengths[kLengthSymbols] = {};
  HuffmanCode main, length, aligned;
};

// Undoes the compressor's change of x86 call targets from relative to
// absolute: each E8 byte but in the last 10 is followed by the 32-bit
// target, changed only where it lies within the translation size.
void UndoCallTranslation(uint8_t* data, size_t size) {
  if (size <= 10) return;
  for (size_t i = 0; i < size - 10; i++) {
    if (data[i] != 0xE8) continue;
    int32_t target = LoadLittle<int32_t>(data + i + 1);
    int32_t position = static_cast<int32_t>(i);
    if (target >= -position && target < kTranslationSize) {
      int32_t relative = target >= 0 ? target - position : target + kTranslationSize;
      StoreLittle<int32_t>(data + i + 1, relative);
    }
    i += 4;
  }
}

}  // namespace

bool DecodeLzxChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  if (outSize == 0 || outSize > kWindowSize) return false;
  LzxChunk chunk(in, inSize, out, outSize);
  if (!chunk.Decode()) return false;
  UndoCallTranslation(out, outSize);
  return true;
}
