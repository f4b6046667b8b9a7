// Writing a VHDX file: every payload block present, one after the other.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "support/runtime/errors.h"
#include "support/runtime/random_id.h"
#include "vhdx.h"
#include "vhdx_format.h"

using namespace vhdx_format;

namespace {

// A structure written whole: its record at the front, zeros up to its size.
template <typename Record>
Record* Front(std::vector<uint8_t>& bytes) {
  return reinterpret_cast<Record*>(bytes.data());
}

std::vector<uint8_t> FileIdentifier() {
  std::vector<uint8_t> bytes(kVhdxFileIdentifierSize, 0);
  VhdxFileIdentifier* identifier = Front<VhdxFileIdentifier>(bytes);
  memcpy(identifier->signature, kVhdxFileSignature, sizeof(identifier->signature));
  for (size_t i = 0; kCreator[i] != '\0'; ++i) identifier->creator[i] = kCreator[i];
  return bytes;
}

std::vector<uint8_t> Header(const VhdxLayout& layout, uint64_t sequenceNumber,
                            const DiskGuid& fileWriteId, const DiskGuid& dataWriteId) {
  std::vector<uint8_t> bytes(kVhdxHeaderSize, 0);
  VhdxHeader* header = Front<VhdxHeader>(bytes);
  memcpy(header->signature, kVhdxHeaderSignature, sizeof(header->signature));
  header->sequenceNumber = sequenceNumber;
  header->fileWriteId = fileWriteId;
  header->dataWriteId = dataWriteId;
  // The log id stays zero: the log is empty.
  header->logVersion = 0;
  header->version = kVhdxVersion;
  header->logLength = static_cast<uint32_t>(layout.logLength);
  header->logOffset = layout.logOffset;
  Seal(bytes.data(), bytes.size());
  return bytes;
}

VhdxRegionTableEntry Region(const DiskGuid& id, uint64_t offset, uint64_t length) {
  return VhdxRegionTableEntry{id, offset, static_cast<uint32_t>(length), kVhdxRegionRequired};
}

std::vector<uint8_t> RegionTable(const VhdxLayout& layout) {
  std::vector<uint8_t> bytes(kVhdxRegionTableSize, 0);
  VhdxRegionTableHeader* table = Front<VhdxRegionTableHeader>(bytes);
  memcpy(table->signature, kVhdxRegionSignature, sizeof(table->signature));
  table->entryCount = 2;
  auto* entries = reinterpret_cast<VhdxRegionTableEntry*>(table + 1);
  entries[0] = Region(kVhdxBatRegion, layout.batOffset, layout.batLength);
  entries[1] = Region(kVhdxMetadataRegion, layout.metadataOffset, layout.metadataLength);
  Seal(bytes.data(), bytes.size());
  return bytes;
}

// The items' values, in the order of kItems.
std::vector<uint8_t> ItemValues(const VhdxLayout& layout, const DiskGuid& diskId) {
  std::vector<uint8_t> values;
  auto append = [&values](const auto& value) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
    values.insert(values.end(), bytes, bytes + sizeof(value));
  };
  append(VhdxFileParameters{layout.blockSize, kVhdxLeaveBlocksAllocated});
  append(layout.diskSize);
  append(diskId);
  append(layout.logicalSectorSize);
  append(layout.physicalSectorSize);
  return values;
}

// The metadata table and its items; the items follow the 64 KiB table.
std::vector<uint8_t> Metadata(const VhdxLayout& layout, const DiskGuid& diskId) {
  std::vector<uint8_t> bytes(kVhdxMetadataTableSize, 0);
  VhdxMetadataTableHeader* table = Front<VhdxMetadataTableHeader>(bytes);
  memcpy(table->signature, kVhdxMetadataSignature, sizeof(table->signature));
  table->entryCount = kItemCount;
  auto* entries = reinterpret_cast<VhdxMetadataTableEntry*>(table + 1);
  uint32_t itemOffset = kVhdxMetadataTableSize;
  for (int i = 0; i < kItemCount; ++i) {
    // The file parameters describe this file; the rest describe the disk.
    const bool describesFile = kItems[i].id == &kVhdxFileParametersItem;
    const uint32_t flags = kVhdxItemIsRequired | (describesFile ? 0 : kVhdxItemIsVirtualDisk);
    entries[i] = VhdxMetadataTableEntry{*kItems[i].id, itemOffset, kItems[i].length, flags, 0};
    itemOffset += kItems[i].length;
  }
  const std::vector<uint8_t> values = ItemValues(layout, diskId);
  bytes.insert(bytes.end(), values.begin(), values.end());
  return bytes;
}

uint64_t BatEntry(const VhdxLayout& layout, uint64_t index) {
  const uint64_t period = layout.chunkRatio + 1;
  if ((index + 1) % period == 0) return kVhdxBitmapNotPresent;
  const uint64_t block = index - index / period;
  const uint64_t offset = layout.dataOffset + block * layout.blockSize;
  return kVhdxPayloadFullyPresent | ((offset / kVhdxMiB) << kVhdxFileOffsetShift);
}

DWORD WriteBat(int fd, const VhdxLayout& layout) {
  std::vector<uint64_t> piece(kBatPiece / kVhdxBatEntrySize);
  for (uint64_t first = 0; first < layout.batEntries; first += piece.size()) {
    const uint64_t count = std::min<uint64_t>(piece.size(), layout.batEntries - first);
    for (uint64_t i = 0; i < count; ++i) piece[i] = BatEntry(layout, first + i);
    const DWORD code = WriteAt(fd, layout.batOffset + first * kVhdxBatEntrySize, piece.data(),
                               count * kVhdxBatEntrySize);
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

DWORD WriteStructures(int fd, const VhdxLayout& layout) {
  const DiskGuid fileWriteId = NewRandomGuid();
  const DiskGuid dataWriteId = NewRandomGuid();
  const std::vector<uint8_t> identifier = FileIdentifier();
  const std::vector<uint8_t> regions = RegionTable(layout);
  const std::vector<uint8_t> metadata = Metadata(layout, NewRandomGuid());
  DWORD code = ERROR_SUCCESS;
  for (int copy = 0; copy < 2 && code == ERROR_SUCCESS; ++copy) {
    const std::vector<uint8_t> header = Header(layout, copy + 1, fileWriteId, dataWriteId);
    code = WriteAt(fd, kVhdxHeaderOffsets[copy], header.data(), header.size());
    if (code == ERROR_SUCCESS) {
      code = WriteAt(fd, kVhdxRegionTableOffsets[copy], regions.data(), regions.size());
    }
  }
  if (code == ERROR_SUCCESS) code = WriteAt(fd, 0, identifier.data(), identifier.size());
  if (code == ERROR_SUCCESS) {
    code = WriteAt(fd, layout.metadataOffset, metadata.data(), metadata.size());
  }
  if (code == ERROR_SUCCESS) code = WriteBat(fd, layout);
  if (code == ERROR_SUCCESS && ftruncate(fd, static_cast<off_t>(layout.fileSize)) != 0) {
    code = Win32FromErrno(errno);
  }
  return code;
}

}  // namespace

DWORD VhdxCreateFile(const std::string& path, uint64_t diskSize, uint32_t logicalSectorSize,
                     uint32_t physicalSectorSize, uint32_t blockSize) {
  if (!IsSectorSize(logicalSectorSize) || !IsSectorSize(physicalSectorSize) ||
      physicalSectorSize < logicalSectorSize || (blockSize != 0 && !IsBlockSize(blockSize)) ||
      diskSize == 0 || diskSize > kVhdxMaxDiskSize || diskSize % logicalSectorSize != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno);
  const VhdxLayout layout =
      VhdxLayout::For(diskSize, logicalSectorSize, physicalSectorSize, blockSize);
  const DWORD code = WriteStructures(fd, layout);
  close(fd);
  if (code != ERROR_SUCCESS) unlink(path.c_str());
  return code;
}
