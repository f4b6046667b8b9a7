#pragma once

#include <cstddef>
#include <cstdint>

// Decodes one chunk of LZX with a 32 KiB window, as the overlay filter
// writes them: each chunk on its own (codes and repeated offsets start
// afresh), no stream header, and the x86 call translation always on over a
// translation size of 12000000 bytes.
// Returns: true when `in` decodes to exactly `outSize` bytes (at most
// 32768) without needing bytes past its end; false for anything else.
bool DecodeLzxChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
