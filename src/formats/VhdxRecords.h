// The records of a VHDX file, the one description of them that the Linux
// layer and the tests share. Numbers are little-endian.
//
//   0        file type identifier ("vhdxfile", creator), 64 KiB
//   64 KiB   header 1, 4 KiB (the current one has the higher sequence number)
//   128 KiB  header 2
//   192 KiB  region table 1, 64 KiB (where the metadata and the block
//   256 KiB  region table 2          allocation table lie)
//   1 MiB    regions, each at a multiple of 1 MiB: the log, the metadata
//            (a 64 KiB table of items, then the items' values), the block
//            allocation table (BAT), the payload blocks
//
// The headers, region tables and metadata table carry a CRC-32C of their
// whole size in their checksum field (zero while it is computed).
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/DiskGuid.h"
#include "formats/LittleEndian.h"

inline constexpr uint64_t kVhdxKiB = 1024;
inline constexpr uint64_t kVhdxMiB = 1024 * kVhdxKiB;
inline constexpr uint64_t kVhdxHeaderOffsets[2] = {64 * kVhdxKiB, 128 * kVhdxKiB};
inline constexpr uint64_t kVhdxRegionTableOffsets[2] = {192 * kVhdxKiB, 256 * kVhdxKiB};
inline constexpr size_t kVhdxFileIdentifierSize = 64 * kVhdxKiB;
inline constexpr size_t kVhdxHeaderSize = 4 * kVhdxKiB;
inline constexpr size_t kVhdxRegionTableSize = 64 * kVhdxKiB;
inline constexpr size_t kVhdxMetadataTableSize = 64 * kVhdxKiB;  // the items' values follow it
inline constexpr uint64_t kVhdxMaxItemLength = kVhdxMiB;
inline constexpr uint32_t kVhdxMaxTableEntries = 2047;
inline constexpr uint64_t kVhdxMaxDiskSize = 64 * kVhdxMiB * kVhdxMiB;  // 64 TiB
inline constexpr uint32_t kVhdxMinBlockSize = 1 << 20;
inline constexpr uint32_t kVhdxMaxBlockSize = 1 << 28;
inline constexpr uint64_t kVhdxSectorsPerBitmapBlock = 1ull << 23;
inline constexpr uint16_t kVhdxVersion = 1;

inline constexpr char kVhdxFileSignature[] = "vhdxfile";  // 8 bytes, no terminator
inline constexpr char kVhdxHeaderSignature[] = "head";    // 4 bytes
inline constexpr char kVhdxRegionSignature[] = "regi";    // 4 bytes
inline constexpr char kVhdxMetadataSignature[] = "metadata";

#pragma pack(push, 1)
struct VhdxFileIdentifier {
  char signature[8];
  uint16_t creator[256];  // UTF-16, NUL-padded
};

struct VhdxHeader {
  char signature[4];
  uint32_t checksum;
  uint64_t sequenceNumber;
  DiskGuid fileWriteId;
  DiskGuid dataWriteId;
  DiskGuid logId;  // all zero: the log is empty
  uint16_t logVersion;
  uint16_t version;
  uint32_t logLength;
  uint64_t logOffset;
};

struct VhdxRegionTableHeader {
  char signature[4];
  uint32_t checksum;
  uint32_t entryCount;
  uint32_t reserved;
};

struct VhdxRegionTableEntry {
  DiskGuid id;
  uint64_t fileOffset;
  uint32_t length;
  uint32_t flags;  // kVhdxRegionRequired
};

struct VhdxMetadataTableHeader {
  char signature[8];
  uint16_t reserved;
  uint16_t entryCount;
  uint32_t reserved2[5];
};

struct VhdxMetadataTableEntry {
  DiskGuid itemId;
  uint32_t offset;  // from the metadata region's start
  uint32_t length;
  uint32_t flags;  // kVhdxItem bits
  uint32_t reserved;
};

// The value of the file parameters item.
struct VhdxFileParameters {
  uint32_t blockSize;
  uint32_t flags;  // kVhdxLeaveBlocksAllocated, kVhdxHasParent
};
#pragma pack(pop)

static_assert(sizeof(VhdxFileIdentifier) == 520, "the identifier's published size");
static_assert(sizeof(VhdxHeader) == 80 && offsetof(VhdxHeader, sequenceNumber) == 8 &&
                  offsetof(VhdxHeader, logId) == 48 && offsetof(VhdxHeader, version) == 66 &&
                  offsetof(VhdxHeader, logOffset) == 72,
              "the header's published layout");
static_assert(sizeof(VhdxRegionTableHeader) == 16 && sizeof(VhdxRegionTableEntry) == 32 &&
                  offsetof(VhdxRegionTableEntry, fileOffset) == 16,
              "the region table's published layout");
static_assert(sizeof(VhdxMetadataTableHeader) == 32 &&
                  offsetof(VhdxMetadataTableHeader, entryCount) == 10 &&
                  sizeof(VhdxMetadataTableEntry) == 32 &&
                  offsetof(VhdxMetadataTableEntry, offset) == 16 &&
                  offsetof(VhdxMetadataTableEntry, flags) == 24,
              "the metadata table's published layout");
static_assert(sizeof(VhdxFileParameters) == 8, "the file parameters' published size");

// The checksum field of every checksummed structure.
inline constexpr size_t kVhdxChecksumOffset = offsetof(VhdxHeader, checksum);
static_assert(offsetof(VhdxRegionTableHeader, checksum) == kVhdxChecksumOffset,
              "one checksum place");

inline constexpr uint32_t kVhdxRegionRequired = 1;  // region table entry flags
inline constexpr uint32_t kVhdxItemIsUser = 1;      // metadata table entry flags
inline constexpr uint32_t kVhdxItemIsVirtualDisk = 2;
inline constexpr uint32_t kVhdxItemIsRequired = 4;
inline constexpr uint32_t kVhdxLeaveBlocksAllocated = 1;  // file parameters flags
inline constexpr uint32_t kVhdxHasParent = 2;

// A BAT entry: the block's state in its low 3 bits, its file offset in MiB
// in its top 44 bits.
inline constexpr uint64_t kVhdxPayloadFullyPresent = 6;
inline constexpr uint64_t kVhdxBitmapNotPresent = 0;
inline constexpr uint64_t kVhdxStateMask = 7;
inline constexpr int kVhdxFileOffsetShift = 20;
inline constexpr size_t kVhdxBatEntrySize = 8;

// Regions.
inline constexpr DiskGuid kVhdxBatRegion = {
    0x2DC27766, 0xF623, 0x4200, {0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08}};
inline constexpr DiskGuid kVhdxMetadataRegion = {
    0x8B7CA206, 0x4790, 0x4B9A, {0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E}};

// Metadata items.
// Value: VhdxFileParameters.
inline constexpr DiskGuid kVhdxFileParametersItem = {
    0xCAA16737, 0xFA36, 0x4D43, {0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B}};
// Value: the disk size in bytes, uint64_t.
inline constexpr DiskGuid kVhdxVirtualDiskSizeItem = {
    0x2FA54224, 0xCD1B, 0x4876, {0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8}};
// Value: the disk id, a DiskGuid.
inline constexpr DiskGuid kVhdxVirtualDiskIdItem = {
    0xBECA12AB, 0xB2E6, 0x4523, {0x93, 0xEF, 0xC3, 0x09, 0xE0, 0x00, 0xC7, 0x46}};
// Value: the logical sector size in bytes, uint32_t.
inline constexpr DiskGuid kVhdxLogicalSectorSizeItem = {
    0x8141BF1D, 0xA96F, 0x4709, {0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F}};
// Value: the physical sector size in bytes, uint32_t.
inline constexpr DiskGuid kVhdxPhysicalSectorSizeItem = {
    0xCDA348C7, 0x445D, 0x4471, {0x9C, 0xC9, 0xE9, 0x88, 0x52, 0x51, 0xC5, 0x56}};
