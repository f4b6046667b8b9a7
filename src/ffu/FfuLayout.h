#pragma once

// The on-disk layout of an FFU file, the one description of it that the
// reader, ffu-pack and the tests share. All numbers are little-endian.
//
// Front to back: the security header, the catalog, the hash table and
// padding up to a multiple of the security chunk; the image header, the
// manifest text and padding up to a multiple of the image chunk; the store
// header, (for version 2) the store list fields and the device path, the
// validation area, the block data entries and padding up to a multiple of
// the block size; then the payload blocks.

#include <cstddef>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the records below are read and written as they lie in memory");

inline constexpr char kSecuritySignature[] = "SignedImage ";  // 12 bytes, no terminator
inline constexpr char kImageSignature[] = "ImageFlash  ";
inline constexpr size_t kSignatureLength = 12;

// Block data entries name their places counted from the disk's start, or
// with this origin, back from its end.
inline constexpr uint32_t kOriginDiskStart = 0;
inline constexpr uint32_t kOriginDiskEnd = 2;

// The security header's identifier of SHA-256, the one hash algorithm known.
inline constexpr uint32_t kHashAlgorithmSha256 = 0x800C;

// A store header of this major version is followed by the store list fields.
inline constexpr uint16_t kStoreVersionWithStoreList = 2;
// The full flash version of the images this reader knows (2.0), and that of
// compressed images, whose entries and header are laid out otherwise.
inline constexpr uint16_t kFullFlashVersion = 2;
inline constexpr uint16_t kCompressedFullFlashVersion = 3;

#pragma pack(push, 1)
struct SecurityHeader {
  uint32_t headerSize;  // sizeof(SecurityHeader)
  char signature[kSignatureLength];
  uint32_t chunkSizeKb;      // the security region is padded to this many KiB
  uint32_t hashAlgorithmId;  // algorithm of the hash table
  uint32_t catalogSize;      // bytes of catalog after the header
  uint32_t hashTableSize;    // bytes of hash table after the catalog
};

struct ImageHeader {
  uint32_t headerSize;  // sizeof(ImageHeader)
  char signature[kSignatureLength];
  uint32_t manifestLength;  // bytes of manifest text after the header
  uint32_t chunkSizeKb;     // 0: the store follows the manifest directly
};

struct StoreHeader {
  uint32_t updateType;
  uint16_t majorVersion;
  uint16_t minorVersion;
  uint16_t fullFlashMajorVersion;
  uint16_t fullFlashMinorVersion;
  char platformId[192];
  uint32_t blockSize;         // bytes per payload block and block index
  uint32_t entryCount;        // block data entries after the header
  uint32_t entriesLength;     // their bytes; the reader goes by the count
  uint32_t validationCount;
  uint32_t validationLength;  // bytes between the header and the entries
  uint32_t reserved[6];
};

// What follows the store header of version 2, before the device path of
// devicePathLength UTF-16 units.
struct StoreListFields {
  uint16_t storeCount;
  uint16_t storeIndex;
  uint64_t storePayloadSize;
  uint16_t devicePathLength;
};

// A block data entry as it lies in the file: this, then locationCount
// location records.
struct BlockEntryRecord {
  uint32_t locationCount;
  uint32_t blockCount;  // consecutive payload blocks the entry consumes
};

struct LocationRecord {
  uint32_t origin;      // kOriginDiskEnd, or counted from the start
  uint32_t blockIndex;
};
#pragma pack(pop)

static_assert(sizeof(SecurityHeader) == 32, "security header");
static_assert(offsetof(SecurityHeader, chunkSizeKb) == 16, "security header");
static_assert(offsetof(SecurityHeader, hashAlgorithmId) == 20, "security header");
static_assert(offsetof(SecurityHeader, catalogSize) == 24, "security header");
static_assert(offsetof(SecurityHeader, hashTableSize) == 28, "security header");
static_assert(sizeof(ImageHeader) == 24, "image header");
static_assert(offsetof(ImageHeader, manifestLength) == 16, "image header");
static_assert(offsetof(ImageHeader, chunkSizeKb) == 20, "image header");
static_assert(sizeof(StoreHeader) == 248, "store header");
static_assert(offsetof(StoreHeader, majorVersion) == 4, "store header");
static_assert(offsetof(StoreHeader, platformId) == 12, "store header");
static_assert(offsetof(StoreHeader, blockSize) == 204, "store header");
static_assert(offsetof(StoreHeader, entryCount) == 208, "store header");
static_assert(offsetof(StoreHeader, entriesLength) == 212, "store header");
static_assert(offsetof(StoreHeader, validationCount) == 216, "store header");
static_assert(offsetof(StoreHeader, validationLength) == 220, "store header");
static_assert(sizeof(StoreListFields) == 14, "store list fields");
static_assert(offsetof(StoreListFields, storePayloadSize) == 4, "store list fields");
static_assert(offsetof(StoreListFields, devicePathLength) == 12, "store list fields");
static_assert(sizeof(BlockEntryRecord) == 8, "block data entry");
static_assert(sizeof(LocationRecord) == 8, "target location");
