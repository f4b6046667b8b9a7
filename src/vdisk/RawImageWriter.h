#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffu/DamageReport.h"

class FfuImage;
class StoreReader;

// A byte range of a store's disk: the whole disk or one partition of it.
struct DiskRange {
  uint64_t start = 0;
  uint64_t length = 0;
};

// Writes `range` of the disk that a loaded store describes to a new file at
// `outPath`: a raw image (every payload block at its place, less the range's
// start; what no block writes stays a hole of the sparse file), or a dynamic
// VHD or VHDX file when the path ends in ".vhd" or ".vhdx" (any case), of
// which only the blocks that hold data take space. The store's table is
// checked first (as for a mount), the image is checked against its hash
// table as it is read, and a damaged image is not written out. Nothing but
// `outPath` is written: an existing file there is refused, and the file takes
// its name only once it is complete, so a failed or interrupted extraction
// leaves nothing. `partitions` names the disk's partitions in the lines
// about damaged chunks.
// Returns: 0 once the whole range is written; otherwise non-zero after
// printing why.
int ExtractDiskImage(FfuImage& image, StoreReader& reader, const DiskRange& range,
                     const std::wstring& outPath, std::vector<PartitionSpan> partitions);
