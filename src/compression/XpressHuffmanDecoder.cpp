#include "compression/XpressHuffmanDecoder.h"

#include "compression/HuffmanCode.h"
#include "formats/LittleEndian.h"

namespace {

constexpr size_t kTableBytes = 256;
constexpr size_t kSymbols = 512;
constexpr size_t kBlockOutput = 65536;
// What a compressor may leave after the last symbol: an end symbol, the
// rest of its last word and the words that let a decoder read ahead.
constexpr uint64_t kMostPaddingBits = 63;

// The bits of the codes come from 16-bit little-endian words, kept 32 at a
// time; the bytes of long match lengths lie between the words, where the
// stream has reached. Words past the end read as zeros and are counted, so
// that using any of their bits fails the chunk: a stream cut short, or asked
// for more bytes than it holds, never decodes into made-up bytes.
class XpressChunk {
 public:
  XpressChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize)
      : in(in), inSize(inSize), out(out), outSize(outSize) {}

  bool Decode() {
    while (written < outSize) {
      if (!DecodeBlock()) return false;
    }
    return UnreadBits() <= kMostPaddingBits;
  }

 private:
  bool DecodeBlock() {
    if (inSize - position < kTableBytes) return false;
    uint8_t lengths[kSymbols];
    for (size_t i = 0; i < kTableBytes; i++) {
      lengths[2 * i] = in[position + i] & 0x0F;
      lengths[2 * i + 1] = in[position + i] >> 4;
    }
    position += kTableBytes;
    if (!code.Build(lengths, kSymbols)) return false;
    bits = static_cast<uint32_t>(Word()) << 16;
    bits |= Word();
    extra = 16;
    size_t end = written + (outSize - written < kBlockOutput ? outSize - written : kBlockOutput);
    while (written < end) {
      if (!DecodeItem(end)) return false;
    }
    return true;
  }

  bool DecodeItem(size_t end) {
    int length = 0;
    int symbol = code.Decode(bits >> 16, length);
    if (symbol < 0) return false;
    Consume(length);
    if (symbol < 256) {
      out[written++] = static_cast<uint8_t>(symbol);
      return Sound();
    }
    symbol -= 256;
    uint32_t matchLength = symbol & 15;
    int offsetBits = symbol >> 4;
    if (matchLength == 15 && !LongLength(matchLength)) return false;
    matchLength += 3;
    uint32_t offset = 1u << offsetBits;
    if (offsetBits > 0) offset |= bits >> (32 - offsetBits);
    Consume(offsetBits);
    if (!Sound() || offset > written || matchLength > end - written) return false;
    for (uint32_t i = 0; i < matchLength; i++, written++) out[written] = out[written - offset];
    return true;
  }

  bool LongLength(uint32_t& matchLength) {
    if (position >= inSize) return false;
    matchLength = in[position++];
    if (matchLength == 255) {
      if (inSize - position < 2) return false;
      matchLength = LoadLittle<uint16_t>(in + position);
      position += 2;
      if (matchLength == 0) {
        if (inSize - position < 4) return false;
        matchLength = LoadLittle<uint32_t>(in + position);
        position += 4;
      }
      if (matchLength < 15) return false;
      matchLength -= 15;
    }
    matchLength += 15;
    return true;
  }

  uint16_t Word() {
    uint16_t word = 0;
    if (position < inSize) word = in[position];
    if (position + 1 < inSize) word |= static_cast<uint16_t>(in[position + 1] << 8);
    if (position + 1 >= inSize) zeroBits += 16;  // a half word is no word a compressor writes
    position += 2;
    return word;
  }

  void Consume(int count) {
    bits <<= count;
    extra -= count;
    if (extra < 0) {
      bits |= static_cast<uint32_t>(Word()) << -extra;
      extra += 16;
    }
  }

  // Bits held but not yet used; those read past the end are the last ones.
  uint64_t HeldBits() const { return static_cast<uint64_t>(16 + extra); }
  bool Sound() const { return zeroBits <= HeldBits(); }
  uint64_t UnreadBits() const {
    uint64_t after = position < inSize ? (inSize - position) * 8 : 0;
    return HeldBits() - zeroBits + after;
  }

  const uint8_t* in;
  size_t inSize;
  uint8_t* out;
  size_t outSize;
  size_t written = 0;
  size_t position = 0;
  uint32_t bits = 0;
  int extra = 0;
  uint64_t zeroBits = 0;
  HuffmanCode code;
};

}  // namespace

bool DecodeXpressHuffmanChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  if (outSize == 0) return false;
  XpressChunk chunk(in, inSize, out, outSize);
  return chunk.Decode();
}
