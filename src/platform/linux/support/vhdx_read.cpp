// Reading and checking a VHDX file before its data region is attached.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "errors.h"
#include "vhdx.h"
#include "vhdx_format.h"

using namespace vhdx_format;

namespace {

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

bool VhdxHasSignature(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t signature[8];
  const bool found = ReadAt(fd, 0, signature, 8) && memcmp(signature, kFileSignature, 8) == 0;
  close(fd);
  return found;
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
