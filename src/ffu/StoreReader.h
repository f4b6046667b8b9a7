#pragma once

#include <cstdint>
#include <vector>

#include "ffu/FfuLayout.h"
#include "ffu/LocationList.h"
#include "ffu/StoreDescription.h"

class FfuImage;

struct BlockDataEntry {
  uint32_t blockCount = 1;
  LocationList locations;
};

// The store header and its table of block data entries.
class StoreReader {
 public:
  // Binds the reader to the image and reads the header and the table,
  // leaving the image's file at the first payload block. A reader that is
  // bound already returns 0 at once.
  // Returns: 0 on success; otherwise the character count of the failure line
  // or the Win32 error code of a failed read or seek, after printing it.
  int LoadStore(FfuImage* image);

  // Returns: the description of the store this reader reads (the image's
  // first, or the one LoadStoreAt named).
  const StoreDescription& Store() const;

  uint32_t BlockSize() const;
  uint32_t EntryCount() const;
  // Returns: the blocks of the payload, every entry's count added up (at
  // most 2^32 entries of 2^32 blocks: the sum cannot wrap).
  uint64_t PayloadBlocks() const;

  uint16_t MajorVersion() const;
  uint32_t ValidationLength() const;

  std::vector<BlockDataEntry> entries;
  FfuImage* image = nullptr;
  size_t storeNumber = 0;  // index of its description in the image's stores
  StoreHeader header{};
  // Fields of a version 2 header, which follow the 248 bytes of version 1.
  uint16_t storeCount = 1;
  uint16_t storeIndex = 0;
  uint64_t storePayloadSize = 0;
  std::vector<uint16_t> devicePath;  // UTF-16 units, no terminator
  // Where the parts of the store begin in the file, known once loaded: the
  // validation area, the block data entries, the padding after them and
  // the first payload block.
  uint64_t validationOffset = 0;
  uint64_t entriesOffset = 0;
  uint64_t entriesEnd = 0;
  uint64_t payloadOffset = 0;

 private:
  int ReadStore();
  int CheckVersions();
  int ReadVersion2Fields();
  int CheckBlockSize();
  int SkipValidationArea();
  int ReadEntries();
  int SeekPayload();
  int ReadExactly(void* buffer, uint64_t length);
  int Fail();
  uint64_t fileSize = 0;
  uint64_t position = 0;  // tracked while the header and table are read
  bool truncated = false;
};
