#include "compression/ChunkDecoder.h"

#include <libfwnt.h>

#include "compression/LzxDecoder.h"

namespace {

WofResult DecompressXpress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  size_t produced = outSize;
  libfwnt_error_t* error = nullptr;
  int status = libfwnt_lzxpress_huffman_decompress(in, inSize, out, &produced, &error);
  if (error) libfwnt_error_free(&error);
  return status == 1 && produced == outSize ? kWofOk : kWofBadChunk;
}

}  // namespace

WofResult DecompressChunk(WofAlgorithm algorithm, const uint8_t* in, size_t inSize, uint8_t* out,
                          size_t outSize) {
  if (algorithm == WofAlgorithm::kLzx32K)
    return DecodeLzxChunk(in, inSize, out, outSize) ? kWofOk : kWofBadChunk;
  return DecompressXpress(in, inSize, out, outSize);
}
