#include "vhdx.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "crc32c.h"
#include "errors.h"

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kHeaderOffsets[2] = {64 * kKiB, 128 * kKiB};
constexpr uint64_t kRegionTableOffsets[2] = {192 * kKiB, 256 * kKiB};
constexpr size_t kFileIdSize = 64 * kKiB;
constexpr size_t kHeaderSize = 4 * kKiB;
constexpr size_t kRegionTableSize = 64 * kKiB;
constexpr size_t kMetadataTableSize = 64 * kKiB;
constexpr uint64_t kMaxItemLength = kVhdxMiB;
constexpr uint32_t kMaxTableEntries = 2047;
constexpr uint64_t kMaxDiskSize = 64ull * kVhdxMiB * kVhdxMiB;  // 64 TiB
constexpr uint32_t kMinBlockSize = 1 << 20;
constexpr uint32_t kMaxBlockSize = 1 << 28;
constexpr uint64_t kSectorsPerBitmapBlock = 1ull << 23;
constexpr size_t kBatPiece = 1 << 20;  // the table is written and read this much at a time

constexpr uint64_t kPayloadFullyPresent = 6;
constexpr uint64_t kBitmapNotPresent = 0;
constexpr uint64_t kStateMask = 7;
constexpr int kFileOffsetShift = 20;  // the entry's offset, in MiB, fills its top 44 bits

constexpr uint32_t kRequired = 1;           // region table entry
constexpr uint32_t kItemIsVirtualDisk = 2;  // metadata table entry flags
constexpr uint32_t kItemIsRequired = 4;
constexpr uint32_t kLeaveBlocksAllocated = 1;  // file parameters flags
constexpr uint32_t kHasParent = 2;

const char kFileSignature[8] = {'v', 'h', 'd', 'x', 'f', 'i', 'l', 'e'};
const char kHeaderSignature[4] = {'h', 'e', 'a', 'd'};
const char kRegionSignature[4] = {'r', 'e', 'g', 'i'};
const char kMetadataSignature[8] = {'m', 'e', 't', 'a', 'd', 'a', 't', 'a'};
const char kCreator[] = "Brackwen";

// A GUID in the published text form's fields; stored little-endian.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

const Guid kBatRegion = {0x2DC27766, 0xF623, 0x4200, {0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08}};
const Guid kMetadataRegion = {0x8B7CA206, 0x4790, 0x4B9A, {0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E}};
const Guid kFileParameters = {0xCAA16737, 0xFA36, 0x4D43, {0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B}};
const Guid kVirtualDiskSize = {0x2FA54224, 0xCD1B, 0x4876, {0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8}};
const Guid kVirtualDiskId = {0xBECA12AB, 0xB2E6, 0x4523, {0x93, 0xEF, 0xC3, 0x09, 0xE0, 0x00, 0xC7, 0x46}};
const Guid kLogicalSectorSize = {0x8141BF1D, 0xA96F, 0x4709, {0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F}};
const Guid kPhysicalSectorSize = {0xCDA348C7, 0x445D, 0x4471, {0x9C, 0xC9, 0xE9, 0x88, 0x52, 0x51, 0xC5, 0x56}};

// The metadata items a file of this layer carries, in the order it writes
// them; every one is required.
struct KnownItem {
  const Guid* id;
  uint32_t length;
};
const KnownItem kItems[] = {{&kFileParameters, 8}, {&kVirtualDiskSize, 8}, {&kVirtualDiskId, 16},
                            {&kLogicalSectorSize, 4}, {&kPhysicalSectorSize, 4}};
constexpr int kItemCount = 5;
constexpr unsigned kAllItems = (1u << kItemCount) - 1;

void PutLittle(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLittle(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

void PutGuid(uint8_t* at, const Guid& guid) {
  PutLittle(at, guid.data1, 4);
  PutLittle(at + 4, guid.data2, 2);
  PutLittle(at + 6, guid.data3, 2);
  memcpy(at + 8, guid.data4, 8);
}

bool IsGuid(const uint8_t* at, const Guid& guid) {
  uint8_t bytes[16];
  PutGuid(bytes, guid);
  return memcmp(at, bytes, 16) == 0;
}

bool IsZero(const uint8_t* at, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (at[i] != 0) return false;
  return true;
}

// A random identifier of the random-number version, stored as a GUID.
void NewRandomId(uint8_t id[16]) {
  if (getrandom(id, 16, 0) != 16) {
    uint64_t seed = static_cast<uint64_t>(time(nullptr)) ^ (static_cast<uint64_t>(getpid()) << 32);
    for (int i = 0; i < 16; ++i) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      id[i] = static_cast<uint8_t>(seed >> 56);
    }
  }
  id[7] = static_cast<uint8_t>((id[7] & 0x0F) | 0x40);
  id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
}

// Writes the CRC-32C of the whole structure into its field at byte 4.
void Seal(uint8_t* bytes, size_t length) {
  PutLittle(bytes + 4, 0, 4);
  PutLittle(bytes + 4, Crc32c(bytes, length), 4);
}

bool IsSealed(const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> copy(bytes, bytes + length);
  PutLittle(copy.data() + 4, 0, 4);
  return Crc32c(copy.data(), length) == GetLittle(bytes + 4, 4);
}

bool WriteAt(int fd, uint64_t offset, const uint8_t* bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = pwrite(fd, bytes, length, static_cast<off_t>(offset));
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      if (written == 0) errno = EIO;
      return false;
    }
    bytes += written;
    offset += static_cast<uint64_t>(written);
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool ReadAt(int fd, uint64_t offset, uint8_t* bytes, size_t length) {
  while (length > 0) {
    const ssize_t got = pread(fd, bytes, length, static_cast<off_t>(offset));
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
    bytes += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}

DWORD Failure(DWORD code) {
  SetLastError(code);
  return code;
}

bool IsSectorSize(uint64_t size) { return size == 512 || size == 4096; }

bool IsBlockSize(uint64_t size) {
  return size >= kMinBlockSize && size <= kMaxBlockSize && (size & (size - 1)) == 0;
}

// ---- Writing ----------------------------------------------------------------

std::vector<uint8_t> FileIdentifier() {
  std::vector<uint8_t> bytes(kFileIdSize, 0);
  memcpy(bytes.data(), kFileSignature, 8);
  for (size_t i = 0; kCreator[i] != '\0'; ++i) PutLittle(&bytes[8 + 2 * i], kCreator[i], 2);
  return bytes;
}

std::vector<uint8_t> Header(const VhdxLayout& layout, uint64_t sequenceNumber,
                            const uint8_t fileWriteId[16], const uint8_t dataWriteId[16]) {
  std::vector<uint8_t> bytes(kHeaderSize, 0);
  memcpy(bytes.data(), kHeaderSignature, 4);
  PutLittle(&bytes[8], sequenceNumber, 8);
  memcpy(&bytes[16], fileWriteId, 16);
  memcpy(&bytes[32], dataWriteId, 16);
  // The log identifier (48) stays zero: the log is empty.
  PutLittle(&bytes[64], 0, 2);  // log version
  PutLittle(&bytes[66], 1, 2);  // format version
  PutLittle(&bytes[68], layout.logLength, 4);
  PutLittle(&bytes[72], layout.logOffset, 8);
  Seal(bytes.data(), bytes.size());
  return bytes;
}

void PutRegion(uint8_t* entry, const Guid& guid, uint64_t offset, uint64_t length) {
  PutGuid(entry, guid);
  PutLittle(entry + 16, offset, 8);
  PutLittle(entry + 24, length, 4);
  PutLittle(entry + 28, kRequired, 4);
}

std::vector<uint8_t> RegionTable(const VhdxLayout& layout) {
  std::vector<uint8_t> bytes(kRegionTableSize, 0);
  memcpy(bytes.data(), kRegionSignature, 4);
  PutLittle(&bytes[8], 2, 4);
  PutRegion(&bytes[16], kBatRegion, layout.batOffset, layout.batLength);
  PutRegion(&bytes[48], kMetadataRegion, layout.metadataOffset, layout.metadataLength);
  Seal(bytes.data(), bytes.size());
  return bytes;
}

// The metadata table and its items; the items follow the 64 KiB table.
std::vector<uint8_t> Metadata(const VhdxLayout& layout, const uint8_t diskId[16]) {
  std::vector<uint8_t> bytes(kMetadataTableSize + 40, 0);
  memcpy(bytes.data(), kMetadataSignature, 8);
  PutLittle(&bytes[10], kItemCount, 2);
  uint32_t itemOffset = kMetadataTableSize;
  for (int i = 0; i < kItemCount; ++i) {
    uint8_t* entry = &bytes[32 + 32 * i];
    // The file parameters describe this file; the rest describe the disk.
    const uint32_t flags = kItemIsRequired | (i == 0 ? 0 : kItemIsVirtualDisk);
    PutGuid(entry, *kItems[i].id);
    PutLittle(entry + 16, itemOffset, 4);
    PutLittle(entry + 20, kItems[i].length, 4);
    PutLittle(entry + 24, flags, 4);
    itemOffset += kItems[i].length;
  }
  uint8_t* value = &bytes[kMetadataTableSize];
  PutLittle(value, layout.blockSize, 4);
  PutLittle(value + 4, kLeaveBlocksAllocated, 4);
  PutLittle(value + 8, layout.diskSize, 8);
  memcpy(value + 16, diskId, 16);
  PutLittle(value + 32, layout.logicalSectorSize, 4);
  PutLittle(value + 36, layout.physicalSectorSize, 4);
  return bytes;
}

uint64_t BatEntry(const VhdxLayout& layout, uint64_t index) {
  const uint64_t period = layout.chunkRatio + 1;
  if ((index + 1) % period == 0) return kBitmapNotPresent;
  const uint64_t block = index - index / period;
  const uint64_t offset = layout.dataOffset + block * layout.blockSize;
  return kPayloadFullyPresent | ((offset / kVhdxMiB) << kFileOffsetShift);
}

bool WriteBat(int fd, const VhdxLayout& layout) {
  std::vector<uint8_t> piece(kBatPiece);
  const uint64_t perPiece = kBatPiece / 8;
  for (uint64_t first = 0; first < layout.batEntries; first += perPiece) {
    const uint64_t count = std::min(perPiece, layout.batEntries - first);
    for (uint64_t i = 0; i < count; ++i) PutLittle(&piece[i * 8], BatEntry(layout, first + i), 8);
    if (!WriteAt(fd, layout.batOffset + first * 8, piece.data(), count * 8)) return false;
  }
  return true;
}

bool WriteStructures(int fd, const VhdxLayout& layout) {
  uint8_t fileWriteId[16];
  uint8_t dataWriteId[16];
  uint8_t diskId[16];
  NewRandomId(fileWriteId);
  NewRandomId(dataWriteId);
  NewRandomId(diskId);
  const std::vector<uint8_t> identifier = FileIdentifier();
  const std::vector<uint8_t> regions = RegionTable(layout);
  const std::vector<uint8_t> metadata = Metadata(layout, diskId);
  for (int copy = 0; copy < 2; ++copy) {
    const std::vector<uint8_t> header = Header(layout, copy + 1, fileWriteId, dataWriteId);
    if (!WriteAt(fd, kHeaderOffsets[copy], header.data(), header.size()) ||
        !WriteAt(fd, kRegionTableOffsets[copy], regions.data(), regions.size())) {
      return false;
    }
  }
  return WriteAt(fd, 0, identifier.data(), identifier.size()) &&
         WriteAt(fd, layout.metadataOffset, metadata.data(), metadata.size()) &&
         WriteBat(fd, layout) && ftruncate(fd, static_cast<off_t>(layout.fileSize)) == 0;
}

// ---- Reading ----------------------------------------------------------------

// The current header: the valid one, or of two valid ones the one with the
// higher sequence number. False when neither is valid.
bool ReadCurrentHeader(int fd, std::vector<uint8_t>* current) {
  uint64_t bestSequence = 0;
  bool found = false;
  for (uint64_t offset : kHeaderOffsets) {
    std::vector<uint8_t> header(kHeaderSize);
    if (!ReadAt(fd, offset, header.data(), header.size()) ||
        memcmp(header.data(), kHeaderSignature, 4) != 0 || !IsSealed(header.data(), kHeaderSize)) {
      continue;
    }
    const uint64_t sequence = GetLittle(&header[8], 8);
    if (!found || sequence > bestSequence) {
      *current = header;
      bestSequence = sequence;
      found = true;
    }
  }
  return found;
}

struct Regions {
  uint64_t batOffset = 0;
  uint64_t batLength = 0;
  uint64_t metadataOffset = 0;
  uint64_t metadataLength = 0;
};

bool IsRegionPlace(uint64_t offset, uint64_t length) {
  return offset >= kVhdxMiB && offset % kVhdxMiB == 0 && length % kVhdxMiB == 0 && length > 0;
}

DWORD ParseRegionTable(const std::vector<uint8_t>& table, Regions* regions) {
  const uint32_t count = static_cast<uint32_t>(GetLittle(&table[8], 4));
  if (count > kMaxTableEntries) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = &table[16 + 32 * i];
    const uint64_t offset = GetLittle(entry + 16, 8);
    const uint64_t length = GetLittle(entry + 24, 4);
    const bool required = (GetLittle(entry + 28, 4) & kRequired) != 0;
    if (IsGuid(entry, kBatRegion)) {
      regions->batOffset = offset;
      regions->batLength = length;
    } else if (IsGuid(entry, kMetadataRegion)) {
      regions->metadataOffset = offset;
      regions->metadataLength = length;
    } else if (required) {
      return ERROR_NOT_SUPPORTED;
    }
  }
  if (!IsRegionPlace(regions->batOffset, regions->batLength) ||
      !IsRegionPlace(regions->metadataOffset, regions->metadataLength)) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  return ERROR_SUCCESS;
}

// The first of the two region tables that is intact.
DWORD ReadRegions(int fd, Regions* regions) {
  for (uint64_t offset : kRegionTableOffsets) {
    std::vector<uint8_t> table(kRegionTableSize);
    if (ReadAt(fd, offset, table.data(), table.size()) &&
        memcmp(table.data(), kRegionSignature, 4) == 0 && IsSealed(table.data(), table.size())) {
      return ParseRegionTable(table, regions);
    }
  }
  return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
}

struct MetadataValues {
  uint64_t blockSize = 0;
  uint64_t flags = 0;
  uint64_t diskSize = 0;
  uint64_t logicalSectorSize = 0;
  uint64_t physicalSectorSize = 0;
  uint8_t diskId[16] = {};
  unsigned found = 0;  // one bit for each of the five items, by its place in kItems
};


// Index of the item in kItems, or -1 for an item this layer does not know.
int KnownItemIndex(const uint8_t* entry) {
  for (int i = 0; i < kItemCount; ++i)
    if (IsGuid(entry, *kItems[i].id)) return i;
  return -1;
}

// Reads the value of known item `index`; false when it cannot be read.
bool ReadItem(int fd, uint64_t at, uint64_t length, int index, MetadataValues* values) {
  uint8_t bytes[16] = {};
  if (length != kItems[index].length || !ReadAt(fd, at, bytes, length)) return false;
  switch (index) {
    case 0:
      values->blockSize = GetLittle(bytes, 4);
      values->flags = GetLittle(bytes + 4, 4);
      break;
    case 1: values->diskSize = GetLittle(bytes, 8); break;
    case 2: memcpy(values->diskId, bytes, 16); break;
    case 3: values->logicalSectorSize = GetLittle(bytes, 4); break;
    default: values->physicalSectorSize = GetLittle(bytes, 4); break;
  }
  values->found |= 1u << index;
  return true;
}

DWORD ReadMetadata(int fd, const Regions& regions, MetadataValues* values) {
  std::vector<uint8_t> table(kMetadataTableSize);
  if (!ReadAt(fd, regions.metadataOffset, table.data(), table.size()) ||
      memcmp(table.data(), kMetadataSignature, 8) != 0) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  const uint32_t count = static_cast<uint32_t>(GetLittle(&table[10], 2));
  if (count > kMaxTableEntries) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = &table[32 + 32 * i];
    const uint64_t offset = GetLittle(entry + 16, 4);
    const uint64_t length = GetLittle(entry + 20, 4);
    const bool required = (GetLittle(entry + 24, 4) & kItemIsRequired) != 0;
    const int index = KnownItemIndex(entry);
    if (index < 0) {
      if (required) return ERROR_NOT_SUPPORTED;
      continue;
    }
    if (offset < kMetadataTableSize || length > kMaxItemLength ||
        offset + length > regions.metadataLength ||
        !ReadItem(fd, regions.metadataOffset + offset, length, index, values)) {
      return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
    }
  }
  return values->found == kAllItems ? ERROR_SUCCESS : ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
}

DWORD CheckValues(const MetadataValues& values) {
  if (!IsBlockSize(values.blockSize) || !IsSectorSize(values.logicalSectorSize) ||
      !IsSectorSize(values.physicalSectorSize) || values.diskSize == 0 ||
      values.diskSize > kMaxDiskSize || values.diskSize % values.logicalSectorSize != 0) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  return (values.flags & kHasParent) != 0 ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS;
}

// Every payload block must be fully present, block k at the first block's
// offset + k blocks; every sector bitmap entry not present.
DWORD CheckBat(int fd, const VhdxLayout& layout, uint64_t batOffset, uint64_t* dataOffset) {
  std::vector<uint8_t> piece(kBatPiece);
  const uint64_t perPiece = kBatPiece / 8;
  const uint64_t period = layout.chunkRatio + 1;
  for (uint64_t first = 0; first < layout.batEntries; first += perPiece) {
    const uint64_t count = std::min(perPiece, layout.batEntries - first);
    if (!ReadAt(fd, batOffset + first * 8, piece.data(), count * 8))
      return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t index = first + i;
      const uint64_t entry = GetLittle(&piece[i * 8], 8);
      if ((index + 1) % period == 0) {
        if ((entry & kStateMask) != kBitmapNotPresent) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
        continue;
      }
      if ((entry & kStateMask) != kPayloadFullyPresent) return ERROR_NOT_SUPPORTED;
      const uint64_t offset = (entry >> kFileOffsetShift) * kVhdxMiB;
      const uint64_t block = index - index / period;
      if (index == 0) *dataOffset = offset;
      if (offset < kVhdxMiB || offset != *dataOffset + block * layout.blockSize)
        return ERROR_NOT_SUPPORTED;
    }
  }
  return ERROR_SUCCESS;
}

DWORD ReadDisk(int fd, uint64_t fileSize, VhdxDisk* disk) {
  uint8_t signature[8];
  if (!ReadAt(fd, 0, signature, 8) || memcmp(signature, kFileSignature, 8) != 0)
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  std::vector<uint8_t> header;
  if (!ReadCurrentHeader(fd, &header) || GetLittle(&header[66], 2) != 1)
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  if (!IsZero(&header[48], 16)) return ERROR_NOT_SUPPORTED;  // a log waits to be replayed
  Regions regions;
  MetadataValues values;
  DWORD code = ReadRegions(fd, &regions);
  if (code == ERROR_SUCCESS) code = ReadMetadata(fd, regions, &values);
  if (code == ERROR_SUCCESS) code = CheckValues(values);
  if (code != ERROR_SUCCESS) return code;
  const VhdxLayout layout =
      VhdxLayout::For(values.diskSize, static_cast<uint32_t>(values.logicalSectorSize),
                      static_cast<uint32_t>(values.physicalSectorSize),
                      static_cast<uint32_t>(values.blockSize));
  if (layout.batEntries * 8 > regions.batLength) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  uint64_t dataOffset = 0;
  code = CheckBat(fd, layout, regions.batOffset, &dataOffset);
  if (code != ERROR_SUCCESS) return code;
  if (dataOffset > fileSize || fileSize - dataOffset < values.diskSize)
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  disk->diskSize = values.diskSize;
  disk->logicalSectorSize = layout.logicalSectorSize;
  disk->physicalSectorSize = layout.physicalSectorSize;
  disk->blockSize = layout.blockSize;
  disk->dataOffset = dataOffset;
  memcpy(disk->diskId, values.diskId, 16);
  return ERROR_SUCCESS;
}

}  // namespace

VhdxLayout VhdxLayout::For(uint64_t diskSize, uint32_t logicalSectorSize,
                           uint32_t physicalSectorSize, uint32_t blockSize) {
  VhdxLayout layout;
  layout.diskSize = diskSize;
  layout.logicalSectorSize = logicalSectorSize;
  layout.physicalSectorSize = physicalSectorSize;
  layout.blockSize = blockSize == 0 ? kVhdxDefaultBlockSize : blockSize;
  layout.chunkRatio = kSectorsPerBitmapBlock * logicalSectorSize / layout.blockSize;
  layout.payloadBlocks = (diskSize + layout.blockSize - 1) / layout.blockSize;
  layout.batEntries = layout.payloadBlocks + (layout.payloadBlocks - 1) / layout.chunkRatio;
  layout.logOffset = kVhdxMiB;
  layout.logLength = kVhdxMiB;
  layout.metadataOffset = layout.logOffset + layout.logLength;
  layout.metadataLength = kVhdxMiB;
  layout.batOffset = layout.metadataOffset + layout.metadataLength;
  layout.batLength = (layout.batEntries * 8 + kVhdxMiB - 1) / kVhdxMiB * kVhdxMiB;
  layout.dataOffset = layout.batOffset + layout.batLength;
  layout.fileSize = layout.dataOffset + layout.payloadBlocks * layout.blockSize;
  return layout;
}

DWORD VhdxCreateFile(const std::string& path, uint64_t diskSize, uint32_t logicalSectorSize,
                     uint32_t physicalSectorSize, uint32_t blockSize) {
  if (!IsSectorSize(logicalSectorSize) || !IsSectorSize(physicalSectorSize) ||
      physicalSectorSize < logicalSectorSize || (blockSize != 0 && !IsBlockSize(blockSize)) ||
      diskSize == 0 || diskSize > kMaxDiskSize || diskSize % logicalSectorSize != 0) {
    return Failure(ERROR_INVALID_PARAMETER);
  }
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return Failure(errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno));
  const VhdxLayout layout =
      VhdxLayout::For(diskSize, logicalSectorSize, physicalSectorSize, blockSize);
  DWORD code = ERROR_SUCCESS;
  if (!WriteStructures(fd, layout)) code = Win32FromErrno(errno != 0 ? errno : EIO);
  close(fd);
  if (code != ERROR_SUCCESS) unlink(path.c_str());
  return code == ERROR_SUCCESS ? code : Failure(code);
}

DWORD VhdxOpenFile(const std::string& path, VhdxDisk* disk) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SetLastErrorFromErrno(errno);
  struct stat status;
  DWORD code = ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  if (fstat(fd, &status) != 0) {
    code = Win32FromErrno(errno);
  } else if (S_ISREG(status.st_mode)) {
    code = ReadDisk(fd, static_cast<uint64_t>(status.st_size), disk);
  }
  close(fd);
  return code == ERROR_SUCCESS ? code : Failure(code);
}
