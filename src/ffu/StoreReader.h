#pragma once

#include <cstdint>
#include <vector>

class FfuImage;

struct TargetLocation {
  uint32_t blockIndex = 0;
  uint32_t origin = 0;  // 2: counted back from the end of the disk
};

struct BlockDataEntry {
  uint32_t blockCount = 1;
  uint32_t locationCount = 0;
  std::vector<TargetLocation> locations;
};

constexpr uint32_t kOriginDiskEnd = 2;
constexpr uint32_t kStoreHeaderSize = 248;

// The store header and its table of block data entries.
class StoreReader {
 public:
  // Binds the reader to the image and reads the header and the table,
  // leaving the image's file at the first payload block. A reader that is
  // bound already returns 0 at once. 0 on success.
  int LoadStore(FfuImage* image);

  uint32_t BlockSize() const;
  uint32_t EntryCount() const;

  std::vector<BlockDataEntry> entries;
  FfuImage* image = nullptr;
  uint8_t header[kStoreHeaderSize] = {};
};
