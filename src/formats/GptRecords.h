// The GUID partition table as it lies on a disk: the one description that
// the Linux layer, ffu-pack, the FFU reader's disk view and the tests share.
//
// Sector 0 holds a protective MBR; sector 1 the primary header, which names
// where the entry array lies (usually sector 2) and where the backup header
// lies (the disk's last sector, after the backup entry array). Sector numbers
// count in the disk's logical sectors (512 or 4096 bytes). Numbers are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "formats/DiskGuid.h"
#include "formats/LittleEndian.h"

inline constexpr char kGptSignature[] = "EFI PART";  // 8 bytes, no terminator
inline constexpr size_t kGptSignatureLength = 8;
inline constexpr uint64_t kGptPrimaryHeaderSector = 1;
inline constexpr size_t kGptNameUnits = 36;        // UTF-16 units, NUL-padded
inline constexpr uint32_t kGptMinEntrySize = 128;  // entries may be longer, never shorter

#pragma pack(push, 1)
struct GptHeader {
  char signature[kGptSignatureLength];
  uint32_t revision;    // 0x00010000
  uint32_t headerSize;  // 92: the bytes the header CRC covers
  uint32_t headerCrc32;
  uint32_t reserved;
  uint64_t currentSector;  // where this header lies
  uint64_t backupSector;   // where the other header lies
  uint64_t firstUsableSector;
  uint64_t lastUsableSector;  // inclusive
  DiskGuid diskId;
  uint64_t entriesSector;  // first sector of this header's entry array
  uint32_t entryCount;
  uint32_t entrySize;
  uint32_t entriesCrc32;
};

struct GptEntry {
  DiskGuid typeId;  // all zero: the entry is unused
  DiskGuid partitionId;
  uint64_t firstSector;
  uint64_t lastSector;  // inclusive
  uint64_t attributes;  // the kGptAttribute bits below
  uint16_t name[kGptNameUnits];
};
#pragma pack(pop)

static_assert(sizeof(GptHeader) == 92, "the header's published size");
static_assert(offsetof(GptHeader, headerCrc32) == 16 && offsetof(GptHeader, backupSector) == 32 &&
                  offsetof(GptHeader, firstUsableSector) == 40 &&
                  offsetof(GptHeader, diskId) == 56 && offsetof(GptHeader, entriesSector) == 72 &&
                  offsetof(GptHeader, entryCount) == 80 && offsetof(GptHeader, entrySize) == 84,
              "the header's published layout");
static_assert(sizeof(GptEntry) == kGptMinEntrySize, "the entry's published size");
static_assert(offsetof(GptEntry, firstSector) == 32 && offsetof(GptEntry, attributes) == 48 &&
                  offsetof(GptEntry, name) == 56,
              "the entry's published layout");

// Partition types this program knows by name.
inline constexpr DiskGuid kGptBasicDataType = {
    0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
inline constexpr DiskGuid kGptEfiSystemType = {
    0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
// The reserved partition (MSR) that Windows places on its GPT disks.
inline constexpr DiskGuid kGptReservedType = {
    0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};
inline constexpr DiskGuid kGptRecoveryType = {
    0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};

// Entry attribute bits: bit 0 for every type; bits 60 to 63 as basic data
// partitions use them.
inline constexpr uint64_t kGptAttributePlatformRequired = 1ull << 0;
inline constexpr uint64_t kGptAttributeReadOnly = 1ull << 60;
inline constexpr uint64_t kGptAttributeShadowCopy = 1ull << 61;
inline constexpr uint64_t kGptAttributeHidden = 1ull << 62;
inline constexpr uint64_t kGptAttributeNoDriveLetter = 1ull << 63;

// Returns: whether Windows gives a partition of this type (a DiskGuid or the
// platform's GUID) and these attributes a volume: a basic data partition
// that is not hidden.
template <typename Guid>
bool GetsGptVolume(const Guid& type, uint64_t attributes) {
  return SameDiskGuid(type, kGptBasicDataType) && (attributes & kGptAttributeHidden) == 0;
}

// Returns: whether the header bytes begin with the GPT signature.
inline bool HasGptSignature(const GptHeader& header) {
  return std::memcmp(header.signature, kGptSignature, kGptSignatureLength) == 0;
}

// Returns: whether the entry is unused (its type is all zero).
inline bool IsUnusedGptEntry(const GptEntry& entry) {
  return SameDiskGuid(entry.typeId, DiskGuid{});
}

// Returns: a GPT name up to its terminator (at most kGptNameUnits units), one
// wide character a unit; `Unit` is the 16-bit unit of the record holding it
// (GptEntry's, or the platform's partition entry's).
template <typename Unit>
std::wstring GptNameText(const Unit (&name)[kGptNameUnits]) {
  std::wstring text;
  for (size_t i = 0; i < kGptNameUnits && name[i] != 0; ++i) text += static_cast<wchar_t>(name[i]);
  return text;
}
