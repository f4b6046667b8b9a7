#pragma once

#include <cstddef>
#include <cstdint>

// Decodes one chunk of XPRESS with Huffman codes (LZ77 and a prefix code of
// 512 symbols, given by a table of 256 bytes of 4-bit code lengths at the
// start of every 64 KiB of output), as the overlay filter writes its 4, 8
// and 16 KiB chunks.
// Returns: true when `in` decodes to exactly `outSize` bytes without
// needing bits past its end and without leaving more than the final
// padding unread; false for anything else.
bool DecodeXpressHuffmanChunk(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
