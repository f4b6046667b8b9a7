// The records of a VHD file, the one description of them that both builds
// and the tests share.
//
// A fixed-format VHD is the disk's bytes followed by this 512-byte footer.
// A dynamic one starts with a copy of the footer, then the dynamic header
// and the block allocation table (BAT); each block of the disk that holds
// data follows as a sector bitmap and the block's bytes, and the footer ends
// the file. Unlike the other records here, its numbers are big-endian:
// VhdFooterByteOrder and VhdDynamicHeaderByteOrder turn a record between
// file order and host order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/LittleEndian.h"  // host order is little-endian

inline constexpr char kVhdCookie[] = "conectix";     // 8 bytes, no terminator
inline constexpr uint32_t kVhdFeaturesReserved = 2;  // a bit every footer carries
inline constexpr uint32_t kVhdFormatVersion = 0x00010000;
inline constexpr uint64_t kVhdNoDataOffset = ~0ull;  // fixed disks have no dynamic header
inline constexpr uint32_t kVhdDiskTypeFixed = 2;
inline constexpr uint32_t kVhdDiskTypeDynamic = 3;
inline constexpr char kVhdDynamicCookie[] = "cxsparse";  // 8 bytes, no terminator
inline constexpr uint32_t kVhdDynamicHeaderVersion = 0x00010000;
inline constexpr uint32_t kVhdUnusedBlock = 0xFFFFFFFF;  // a BAT entry of a block without data
inline constexpr uint32_t kVhdEpoch = 946684800;  // 2000-01-01 00:00:00 UTC in Unix time

#pragma pack(push, 1)
struct VhdFooterRecord {
  char cookie[8];
  uint32_t features;
  uint32_t formatVersion;
  uint64_t dataOffset;
  uint32_t timestamp;  // seconds since kVhdEpoch
  char creatorApplication[4];
  uint32_t creatorVersion;
  char creatorHostOs[4];
  uint64_t originalSize;
  uint64_t currentSize;
  uint16_t cylinders;
  uint8_t heads;
  uint8_t sectorsPerTrack;
  uint32_t diskType;
  uint32_t checksum;  // ones' complement of the sum of all bytes, this field as zero
  uint8_t uniqueId[16];
  uint8_t savedState;
  uint8_t reserved[427];
};

struct VhdDynamicHeaderRecord {
  char cookie[8];
  uint64_t dataOffset;   // kVhdNoDataOffset
  uint64_t tableOffset;  // the BAT's place in the file
  uint32_t headerVersion;
  uint32_t maxTableEntries;
  uint32_t blockSize;
  uint32_t checksum;  // as the footer's
  uint8_t parentUniqueId[16];
  uint32_t parentTimestamp;
  uint32_t reserved;
  uint8_t parentName[512];
  uint8_t parentLocators[8][24];
  uint8_t reserved2[256];
};
#pragma pack(pop)

static_assert(sizeof(VhdDynamicHeaderRecord) == 1024 &&
                  offsetof(VhdDynamicHeaderRecord, tableOffset) == 16 &&
                  offsetof(VhdDynamicHeaderRecord, checksum) == 36 &&
                  offsetof(VhdDynamicHeaderRecord, parentName) == 64,
              "the dynamic header's published layout");
static_assert(sizeof(VhdFooterRecord) == 512, "the footer's published size");
static_assert(offsetof(VhdFooterRecord, timestamp) == 24 &&
                  offsetof(VhdFooterRecord, originalSize) == 40 &&
                  offsetof(VhdFooterRecord, cylinders) == 56 &&
                  offsetof(VhdFooterRecord, diskType) == 60 &&
                  offsetof(VhdFooterRecord, checksum) == 64 &&
                  offsetof(VhdFooterRecord, uniqueId) == 68 &&
                  offsetof(VhdFooterRecord, savedState) == 84,
              "the footer's published layout");

// Turns every number of the footer from file order to host order, or back
// (the same swap both ways).
inline void VhdFooterByteOrder(VhdFooterRecord* footer) {
  footer->features = __builtin_bswap32(footer->features);
  footer->formatVersion = __builtin_bswap32(footer->formatVersion);
  footer->dataOffset = __builtin_bswap64(footer->dataOffset);
  footer->timestamp = __builtin_bswap32(footer->timestamp);
  footer->creatorVersion = __builtin_bswap32(footer->creatorVersion);
  footer->originalSize = __builtin_bswap64(footer->originalSize);
  footer->currentSize = __builtin_bswap64(footer->currentSize);
  footer->cylinders = __builtin_bswap16(footer->cylinders);
  footer->diskType = __builtin_bswap32(footer->diskType);
  footer->checksum = __builtin_bswap32(footer->checksum);
}

inline void VhdDynamicHeaderByteOrder(VhdDynamicHeaderRecord* header) {
  header->dataOffset = __builtin_bswap64(header->dataOffset);
  header->tableOffset = __builtin_bswap64(header->tableOffset);
  header->headerVersion = __builtin_bswap32(header->headerVersion);
  header->maxTableEntries = __builtin_bswap32(header->maxTableEntries);
  header->blockSize = __builtin_bswap32(header->blockSize);
  header->checksum = __builtin_bswap32(header->checksum);
  header->parentTimestamp = __builtin_bswap32(header->parentTimestamp);
}

// Returns: the ones' complement of the sum of a record's bytes as they lie
// in the file, the 4 bytes at `checksumAt` counted as zero, in host order.
inline uint32_t VhdRecordChecksum(const void* record, size_t length, size_t checksumAt) {
  const uint8_t* bytes = static_cast<const uint8_t*>(record);
  uint32_t sum = 0;
  for (size_t i = 0; i < length; ++i)
    if (i < checksumAt || i >= checksumAt + 4) sum += bytes[i];
  return ~sum;
}

// Returns: the footer's checksum.
inline uint32_t VhdFooterChecksum(const VhdFooterRecord& footer) {
  return VhdRecordChecksum(&footer, sizeof(footer), offsetof(VhdFooterRecord, checksum));
}
