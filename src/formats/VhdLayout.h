// The bytes of a VHD file's records for a disk: the footer with its geometry
// and checksum, and for a dynamic disk the dynamic header and where its
// table and blocks lie. Both builds write VHD files through these.
#pragma once

#include <cstdint>

#include "formats/VhdRecords.h"

inline constexpr uint32_t kVhdFooterSize = sizeof(VhdFooterRecord);
inline constexpr uint32_t kVhdDynamicHeaderSize = sizeof(VhdDynamicHeaderRecord);
inline constexpr uint64_t kVhdMaxDiskSize = 2040ull << 30;
// The sectors of a VHD are 512 bytes, whatever the disk underneath.
inline constexpr uint32_t kVhdSectorSize = 512;

// CHS geometry recorded in the footer, computed from the disk size by the
// algorithm of the published VHD format.
struct VhdGeometry {
  uint16_t cylinders = 0;
  uint8_t heads = 0;
  uint8_t sectorsPerTrack = 0;
};

VhdGeometry VhdGeometryForSize(uint64_t diskSize);

// The footer's fields that vary; everything else has one value.
struct VhdFooterFields {
  uint64_t originalSize = 0;
  uint64_t currentSize = 0;
  uint32_t timestamp = 0;  // seconds since 2000-01-01 00:00:00 UTC
  uint8_t uniqueId[16] = {};
  VhdGeometry geometry;
  uint32_t diskType = kVhdDiskTypeFixed;
  uint64_t dataOffset = kVhdNoDataOffset;  // a dynamic disk's header
};

// Returns: the footer's timestamp for a time in seconds since 1970 (UTC).
uint32_t VhdTimestamp(int64_t unixSeconds);

// Writes the 512 bytes, checksum included.
void EncodeVhdFooter(const VhdFooterFields& fields, uint8_t bytes[kVhdFooterSize]);

// Reads a footer of any disk type. Returns: false when the cookie or the
// checksum is wrong.
bool DecodeVhdFooter(const uint8_t bytes[kVhdFooterSize], VhdFooterFields* fields);

// Ones' complement of the sum of all footer bytes, the checksum field
// counted as zero.
uint32_t VhdChecksum(const uint8_t bytes[kVhdFooterSize]);

// Where the parts of a dynamic VHD lie: the footer's copy, the dynamic
// header, the BAT (one entry per block, in sectors), then the blocks, each a
// sector bitmap and the block's bytes, placed so that the bytes start on a
// 4 KiB boundary of the file.
struct VhdDynamicLayout {
  uint64_t diskSize = 0;
  uint32_t blockSize = 0;
  uint32_t bitmapSize = 0;  // one bit per sector of a block, in whole sectors
  uint32_t blocks = 0;      // the BAT's entries
  uint64_t tableOffset = 0;
  uint64_t tableSize = 0;   // in whole sectors
  uint64_t firstBlock = 0;  // the file offset of the first block's bitmap

  static VhdDynamicLayout For(uint64_t diskSize, uint32_t blockSize);
};

// Writes the dynamic header (1024 bytes), checksum included.
void EncodeVhdDynamicHeader(const VhdDynamicLayout& layout, uint8_t bytes[kVhdDynamicHeaderSize]);
