#pragma once

#include <cstddef>
#include <cstdint>

#include "compression/WofReparse.h"
#include "compression/WofResult.h"

// Decompresses one chunk of `algorithm` from `in` into exactly `outSize`
// bytes of `out` (every chunk is compressed on its own).
// Returns: kWofOk; kWofBadChunk when the data is damaged or does not
// decompress to exactly `outSize` bytes.
WofResult DecompressChunk(WofAlgorithm algorithm, const uint8_t* in, size_t inSize, uint8_t* out,
                          size_t outSize);
