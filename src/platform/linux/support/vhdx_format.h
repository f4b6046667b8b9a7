// The parts of a VHDX file that writing and reading share: where the
// structures lie, their signatures and identifiers, and little-endian and
// checksum helpers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vhdx.h"

namespace vhdx_format {

inline constexpr uint64_t kKiB = 1024;
inline constexpr uint64_t kHeaderOffsets[2] = {64 * kKiB, 128 * kKiB};
inline constexpr uint64_t kRegionTableOffsets[2] = {192 * kKiB, 256 * kKiB};
inline constexpr size_t kFileIdSize = 64 * kKiB;
inline constexpr size_t kHeaderSize = 4 * kKiB;
inline constexpr size_t kRegionTableSize = 64 * kKiB;
inline constexpr size_t kMetadataTableSize = 64 * kKiB;
inline constexpr uint64_t kMaxItemLength = kVhdxMiB;
inline constexpr uint32_t kMaxTableEntries = 2047;
inline constexpr uint64_t kMaxDiskSize = 64ull * kVhdxMiB * kVhdxMiB;  // 64 TiB
inline constexpr uint32_t kMinBlockSize = 1 << 20;
inline constexpr uint32_t kMaxBlockSize = 1 << 28;
inline constexpr uint64_t kSectorsPerBitmapBlock = 1ull << 23;
inline constexpr size_t kBatPiece = 64 * kKiB;  // the table is written and read this much at a time

inline constexpr uint64_t kPayloadFullyPresent = 6;
inline constexpr uint64_t kBitmapNotPresent = 0;
inline constexpr uint64_t kStateMask = 7;
inline constexpr int kFileOffsetShift = 20;  // the entry's offset, in MiB, fills its top 44 bits

inline constexpr uint32_t kRequired = 1;           // region table entry
inline constexpr uint32_t kItemIsVirtualDisk = 2;  // metadata table entry flags
inline constexpr uint32_t kItemIsRequired = 4;
inline constexpr uint32_t kLeaveBlocksAllocated = 1;  // file parameters flags
inline constexpr uint32_t kHasParent = 2;

inline const char kFileSignature[8] = {'v', 'h', 'd', 'x', 'f', 'i', 'l', 'e'};
inline const char kHeaderSignature[4] = {'h', 'e', 'a', 'd'};
inline const char kRegionSignature[4] = {'r', 'e', 'g', 'i'};
inline const char kMetadataSignature[8] = {'m', 'e', 't', 'a', 'd', 'a', 't', 'a'};
inline const char kCreator[] = "Brackwen";

// A GUID in the published text form's fields; stored little-endian.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

inline const Guid kBatRegion = {0x2DC27766, 0xF623, 0x4200, {0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08}};
inline const Guid kMetadataRegion = {0x8B7CA206, 0x4790, 0x4B9A, {0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E}};
inline const Guid kFileParameters = {0xCAA16737, 0xFA36, 0x4D43, {0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B}};
inline const Guid kVirtualDiskSize = {0x2FA54224, 0xCD1B, 0x4876, {0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8}};
inline const Guid kVirtualDiskId = {0xBECA12AB, 0xB2E6, 0x4523, {0x93, 0xEF, 0xC3, 0x09, 0xE0, 0x00, 0xC7, 0x46}};
inline const Guid kLogicalSectorSize = {0x8141BF1D, 0xA96F, 0x4709, {0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F}};
inline const Guid kPhysicalSectorSize = {0xCDA348C7, 0x445D, 0x4471, {0x9C, 0xC9, 0xE9, 0x88, 0x52, 0x51, 0xC5, 0x56}};

// The metadata items a file of this layer carries, in the order it writes
// them; every one is required.
struct KnownItem {
  const Guid* id;
  uint32_t length;
};
inline const KnownItem kItems[] = {{&kFileParameters, 8},
                                   {&kVirtualDiskSize, 8},
                                   {&kVirtualDiskId, 16},
                                   {&kLogicalSectorSize, 4},
                                   {&kPhysicalSectorSize, 4}};
inline constexpr int kItemCount = 5;
inline constexpr unsigned kAllItems = (1u << kItemCount) - 1;

void PutLittle(uint8_t* at, uint64_t value, int bytes);
uint64_t GetLittle(const uint8_t* at, int bytes);
void PutGuid(uint8_t* at, const Guid& guid);
bool IsGuid(const uint8_t* at, const Guid& guid);
bool IsZero(const uint8_t* at, size_t length);

// Writes the CRC-32C of the whole structure into its field at byte 4.
void Seal(uint8_t* bytes, size_t length);
// Whether the field at byte 4 holds the structure's CRC-32C.
bool IsSealed(const uint8_t* bytes, size_t length);

// Whole transfers at a file offset; false (errno set) when one falls short.
bool WriteAt(int fd, uint64_t offset, const uint8_t* bytes, size_t length);
bool ReadAt(int fd, uint64_t offset, uint8_t* bytes, size_t length);

// Sets the last error and returns the code.
DWORD Failure(DWORD code);

bool IsSectorSize(uint64_t size);
bool IsBlockSize(uint64_t size);

}  // namespace vhdx_format
