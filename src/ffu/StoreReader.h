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
  // Binds the reader to the image and reads the header and the table of
  // store `storeNumber` (its index in the image's stores), leaving the
  // image's file at the first payload block. A reader that is bound already
  // returns 0 at once.
  // Returns: 0 on success; otherwise the character count of the failure line
  // or the Win32 error code of a failed read or seek, after printing it.
  int LoadStore(FfuImage* image, size_t storeNumber = 0);

  // Returns: the description of the store this reader reads.
  const StoreDescription& Store() const;
  // Returns: the image the reader is bound to; nullptr before LoadStore.
  FfuImage* Image() const { return image; }

  const StoreHeader& Header() const { return header; }
  uint32_t BlockSize() const;
  uint32_t EntryCount() const;
  // Returns: the blocks of the payload, every entry's count added up (at
  // most 2^32 entries of 2^32 blocks: the sum cannot wrap).
  uint64_t PayloadBlocks() const;

  uint16_t MajorVersion() const;
  uint32_t ValidationLength() const;
  // Fields of a version 2 header, which follow the 248 bytes of version 1
  // (1, 0, 0 and empty in a version 1 header).
  uint16_t StoreCount() const { return storeCount; }
  uint16_t StoreIndex() const { return storeIndex; }
  uint64_t StorePayloadSize() const { return storePayloadSize; }
  const std::vector<uint16_t>& DevicePath() const { return devicePath; }  // UTF-16, no terminator

  const std::vector<BlockDataEntry>& Entries() const { return entries; }

  // Where the parts of the store begin in the file, known once loaded: the
  // validation area, the block data entries, the padding after them and
  // the first payload block.
  uint64_t ValidationOffset() const { return validationOffset; }
  uint64_t EntriesOffset() const { return entriesOffset; }
  uint64_t EntriesEnd() const { return entriesEnd; }
  // Kept in the store's description: in an image of several stores the
  // store set moves it behind the last store's table.
  uint64_t PayloadOffset() const { return Store().payloadOffset; }

 private:
  // Tests that lay a store out by hand (tests/support/ImageInternals.h).
  friend struct ImageInternals;

  int ReadStore();
  int CheckVersions();
  int ReadVersion2Fields();
  int CheckBlockSize();
  int SkipValidationArea();
  int ReadEntries();
  int ReadEntryRecords(uint64_t end);
  int SeekPayload();
  int ReadTable(uint64_t length);
  int ReadExactly(void* buffer, uint64_t length);
  int Fail(uint32_t error);

  std::vector<BlockDataEntry> entries;
  FfuImage* image = nullptr;
  size_t storeNumber = 0;  // index of its description in the image's stores
  StoreHeader header{};
  uint16_t storeCount = 1;
  uint16_t storeIndex = 0;
  uint64_t storePayloadSize = 0;
  std::vector<uint16_t> devicePath;
  uint64_t validationOffset = 0;
  uint64_t entriesOffset = 0;
  uint64_t entriesEnd = 0;
  uint64_t fileSize = 0;
  uint64_t position = 0;  // tracked while the header and table are read
  bool truncated = false;
  // The block data entries are many small records: the table is read whole
  // and they are parsed from it, up to `aheadLimit` (the table's end).
  std::vector<uint8_t> ahead;
  size_t aheadUsed = 0;     // bytes of `ahead` already handed out
  uint64_t aheadLimit = 0;  // 0: every read goes to the file
};
