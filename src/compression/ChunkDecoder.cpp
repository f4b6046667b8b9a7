#include "compression/ChunkDecoder.h"

#include "compression/LzxDecoder.h"
#include "compression/XpressHuffmanDecoder.h"

WofResult DecompressChunk(WofAlgorithm algorithm, const uint8_t* in, size_t inSize, uint8_t* out,
                          size_t outSize) {
  bool decoded = algorithm == WofAlgorithm::kLzx32K
                     ? DecodeLzxChunk(in, inSize, out, outSize)
                     : DecodeXpressHuffmanChunk(in, inSize, out, outSize);
  return decoded ? kWofOk : kWofBadChunk;
}
