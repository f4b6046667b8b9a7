#pragma once

#include <cstddef>
#include <cstdint>

#include "compression/WofResult.h"

// A file that Windows keeps compressed through its overlay filter is a
// reparse point of this tag. Its unnamed data stream has the file's size
// but no data (it is sparse); its bytes lie in the alternate data stream
// "WofCompressedData": a table of chunk offsets, then the chunks.
inline constexpr uint32_t kWofReparseTag = 0x80000017;

// The algorithm of the reparse data, by its number there.
enum class WofAlgorithm : uint32_t {
  kXpress4K = 0,
  kLzx32K = 1,
  kXpress8K = 2,
  kXpress16K = 3,
};

struct WofInfo {
  WofAlgorithm algorithm = WofAlgorithm::kXpress4K;
  uint32_t chunkSize = 0;  // uncompressed bytes of every chunk but the last
};

// Reads a whole reparse point as the file system keeps it: the tag (4
// bytes), the data's length (2), 2 reserved, then the data: the overlay
// record (version 1, provider) and the file provider's record (version 1,
// algorithm), 16 bytes in all.
// Returns: kWofOk with `info` filled; kWofNotWof for another tag;
// kWofBadReparseData, kWofUnknownVersion, kWofUnknownProvider,
// kWofUnknownAlgorithm for data this reader does not know.
WofResult ParseWofReparsePoint(const void* data, size_t size, WofInfo& info);

// The same for the 16 bytes of data alone, where the file system hands out
// the tag apart from them.
WofResult ParseWofReparseData(const void* data, size_t size, WofInfo& info);

// Returns: the algorithm's short name as listings show it: "XPRESS4K",
// "LZX", "XPRESS8K", "XPRESS16K".
const wchar_t* WofAlgorithmName(WofAlgorithm algorithm);
