// Reading and checking a VHDX file before its data region is attached.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/runtime/errors.h"
#include "vhdx.h"
#include "vhdx_format.h"

using namespace vhdx_format;

namespace {

// Returns: whether the read fills `bytes` whole.
bool ReadWhole(int fd, uint64_t offset, void* bytes, size_t length) {
  return ReadAt(fd, offset, bytes, length) == ERROR_SUCCESS;
}

// The current header: the valid one, or of two valid ones the one with the
// higher sequence number. False when neither is valid.
bool ReadCurrentHeader(int fd, VhdxHeader* current) {
  bool found = false;
  for (uint64_t offset : kVhdxHeaderOffsets) {
    std::vector<uint8_t> bytes(kVhdxHeaderSize);
    const auto* header = reinterpret_cast<const VhdxHeader*>(bytes.data());
    if (!ReadWhole(fd, offset, bytes.data(), bytes.size()) ||
        memcmp(header->signature, kVhdxHeaderSignature, sizeof(header->signature)) != 0 ||
        !VhdxIsSealed(bytes.data(), bytes.size())) {
      continue;
    }
    if (!found || header->sequenceNumber > current->sequenceNumber) {
      *current = *header;
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

DWORD ParseRegionTable(const std::vector<uint8_t>& bytes, Regions* regions) {
  const auto* table = reinterpret_cast<const VhdxRegionTableHeader*>(bytes.data());
  const auto* entries = reinterpret_cast<const VhdxRegionTableEntry*>(table + 1);
  if (table->entryCount > kVhdxMaxTableEntries) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  for (uint32_t i = 0; i < table->entryCount; ++i) {
    const VhdxRegionTableEntry& entry = entries[i];
    if (SameDiskGuid(entry.id, kVhdxBatRegion)) {
      regions->batOffset = entry.fileOffset;
      regions->batLength = entry.length;
    } else if (SameDiskGuid(entry.id, kVhdxMetadataRegion)) {
      regions->metadataOffset = entry.fileOffset;
      regions->metadataLength = entry.length;
    } else if ((entry.flags & kVhdxRegionRequired) != 0) {
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
  for (uint64_t offset : kVhdxRegionTableOffsets) {
    std::vector<uint8_t> bytes(kVhdxRegionTableSize);
    const auto* table = reinterpret_cast<const VhdxRegionTableHeader*>(bytes.data());
    if (ReadWhole(fd, offset, bytes.data(), bytes.size()) &&
        memcmp(table->signature, kVhdxRegionSignature, sizeof(table->signature)) == 0 &&
        VhdxIsSealed(bytes.data(), bytes.size())) {
      return ParseRegionTable(bytes, regions);
    }
  }
  return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
}

struct MetadataValues {
  VhdxFileParameters parameters = {};
  uint64_t diskSize = 0;
  DiskGuid diskId = {};
  uint32_t logicalSectorSize = 0;
  uint32_t physicalSectorSize = 0;
  unsigned found = 0;  // one bit for each known item read, by its place in kVhdxItems
};

// Where the value of each known item goes, found by the item's GUID.
void* ValueOf(const DiskGuid& id, MetadataValues* values) {
  if (SameDiskGuid(id, kVhdxFileParametersItem)) return &values->parameters;
  if (SameDiskGuid(id, kVhdxVirtualDiskSizeItem)) return &values->diskSize;
  if (SameDiskGuid(id, kVhdxVirtualDiskIdItem)) return &values->diskId;
  if (SameDiskGuid(id, kVhdxLogicalSectorSizeItem)) return &values->logicalSectorSize;
  if (SameDiskGuid(id, kVhdxPhysicalSectorSizeItem)) return &values->physicalSectorSize;
  return nullptr;
}

// The place of a known item in kVhdxItems; -1 for an item this layer does not know.
int KnownIndex(const DiskGuid& id) {
  for (int i = 0; i < kVhdxItemCount; ++i)
    if (SameDiskGuid(id, *kVhdxItems[i].id)) return i;
  return -1;
}

DWORD ReadMetadata(int fd, const Regions& regions, MetadataValues* values) {
  std::vector<uint8_t> bytes(kVhdxMetadataTableSize);
  const auto* table = reinterpret_cast<const VhdxMetadataTableHeader*>(bytes.data());
  if (!ReadWhole(fd, regions.metadataOffset, bytes.data(), bytes.size()) ||
      memcmp(table->signature, kVhdxMetadataSignature, sizeof(table->signature)) != 0) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  if (table->entryCount > kVhdxMaxTableEntries) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  const auto* entries = reinterpret_cast<const VhdxMetadataTableEntry*>(table + 1);
  for (uint32_t i = 0; i < table->entryCount; ++i) {
    const VhdxMetadataTableEntry& entry = entries[i];
    const int index = KnownIndex(entry.itemId);
    void* value = ValueOf(entry.itemId, values);
    if (index < 0 || value == nullptr) {
      if ((entry.flags & kVhdxItemIsRequired) != 0) return ERROR_NOT_SUPPORTED;
      continue;
    }
    const uint64_t offset = entry.offset;
    const uint64_t length = entry.length;
    if (offset < kVhdxMetadataTableSize || length > kVhdxMaxItemLength ||
        offset + length > regions.metadataLength || length != kVhdxItems[index].length ||
        !ReadWhole(fd, regions.metadataOffset + offset, value, length)) {
      return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
    }
    values->found |= 1u << index;
  }
  return values->found == (1u << kVhdxItemCount) - 1 ? ERROR_SUCCESS : ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
}

DWORD CheckValues(const MetadataValues& values) {
  if (!IsBlockSize(values.parameters.blockSize) || !IsSectorSize(values.logicalSectorSize) ||
      !IsSectorSize(values.physicalSectorSize) || values.diskSize == 0 ||
      values.diskSize > kVhdxMaxDiskSize || values.diskSize % values.logicalSectorSize != 0) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  return (values.parameters.flags & kVhdxHasParent) != 0 ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS;
}

// Every payload block must be fully present, block k at the first block's
// offset + k blocks; every sector bitmap entry not present.
DWORD CheckBat(int fd, const VhdxLayout& layout, uint64_t batOffset, uint64_t* dataOffset) {
  std::vector<uint64_t> piece(kBatPiece / kVhdxBatEntrySize);
  const uint64_t period = layout.chunkRatio + 1;
  for (uint64_t first = 0; first < layout.batEntries; first += piece.size()) {
    const uint64_t count = std::min<uint64_t>(piece.size(), layout.batEntries - first);
    if (!ReadWhole(fd, batOffset + first * kVhdxBatEntrySize, piece.data(),
                   count * kVhdxBatEntrySize))
      return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t index = first + i;
      const uint64_t entry = piece[i];
      if ((index + 1) % period == 0) {
        if ((entry & kVhdxStateMask) != kVhdxBitmapNotPresent)
          return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
        continue;
      }
      if ((entry & kVhdxStateMask) != kVhdxPayloadFullyPresent) return ERROR_NOT_SUPPORTED;
      const uint64_t offset = (entry >> kVhdxFileOffsetShift) * kVhdxMiB;
      const uint64_t block = index - index / period;
      if (index == 0) *dataOffset = offset;
      if (offset < kVhdxMiB || offset != *dataOffset + block * layout.blockSize)
        return ERROR_NOT_SUPPORTED;
    }
  }
  return ERROR_SUCCESS;
}

// Returns: whether the file starts with the file type identifier's signature.
bool HasFileSignature(int fd) {
  char signature[sizeof(VhdxFileIdentifier::signature)];
  return ReadWhole(fd, 0, signature, sizeof(signature)) &&
         memcmp(signature, kVhdxFileSignature, sizeof(signature)) == 0;
}

DWORD ReadDisk(int fd, uint64_t fileSize, VhdxDisk* disk) {
  if (!HasFileSignature(fd)) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  VhdxHeader header;
  if (!ReadCurrentHeader(fd, &header) || header.version != kVhdxVersion)
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  // A log waits to be replayed.
  if (!SameDiskGuid(header.logId, DiskGuid{})) return ERROR_NOT_SUPPORTED;
  Regions regions;
  MetadataValues values;
  DWORD code = ReadRegions(fd, &regions);
  if (code == ERROR_SUCCESS) code = ReadMetadata(fd, regions, &values);
  if (code == ERROR_SUCCESS) code = CheckValues(values);
  if (code != ERROR_SUCCESS) return code;
  const VhdxLayout layout = VhdxLayout::For(values.diskSize, values.logicalSectorSize,
                                            values.physicalSectorSize, values.parameters.blockSize);
  if (layout.batEntries * kVhdxBatEntrySize > regions.batLength)
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
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
  memcpy(disk->diskId, &values.diskId, sizeof(disk->diskId));
  return ERROR_SUCCESS;
}

}  // namespace

bool VhdxHasSignature(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool found = HasFileSignature(fd);
  close(fd);
  return found;
}

DWORD VhdxOpenFile(const std::string& path, VhdxDisk* disk) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Win32FromErrno(errno);
  struct stat status;
  DWORD code = ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  if (fstat(fd, &status) != 0) {
    code = Win32FromErrno(errno);
  } else if (S_ISREG(status.st_mode)) {
    code = ReadDisk(fd, static_cast<uint64_t>(status.st_size), disk);
  }
  close(fd);
  return code;
}
