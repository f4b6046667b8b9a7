#include "formats/VhdxLayout.h"

#include <cstring>

#include "formats/Crc32c.h"

namespace {
const char kCreator[] = "Brackwen";

// A structure written whole: its record at the front, zeros up to its size.
template <typename Record>
Record* Front(std::vector<uint8_t>& bytes) {
  return reinterpret_cast<Record*>(bytes.data());
}

VhdxRegionTableEntry Region(const DiskGuid& id, uint64_t offset, uint64_t length) {
  return VhdxRegionTableEntry{id, offset, static_cast<uint32_t>(length), kVhdxRegionRequired};
}

// The items' values, in the order of kVhdxItems.
std::vector<uint8_t> ItemValues(const VhdxLayout& layout, const DiskGuid& diskId,
                                uint32_t fileFlags) {
  std::vector<uint8_t> values;
  auto append = [&values](const auto& value) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
    values.insert(values.end(), bytes, bytes + sizeof(value));
  };
  append(VhdxFileParameters{layout.blockSize, fileFlags});
  append(layout.diskSize);
  append(diskId);
  append(layout.logicalSectorSize);
  append(layout.physicalSectorSize);
  return values;
}
}  // namespace

const VhdxKnownItem kVhdxItems[] = {{&kVhdxFileParametersItem, sizeof(VhdxFileParameters)},
                                    {&kVhdxVirtualDiskSizeItem, sizeof(uint64_t)},
                                    {&kVhdxVirtualDiskIdItem, sizeof(DiskGuid)},
                                    {&kVhdxLogicalSectorSizeItem, sizeof(uint32_t)},
                                    {&kVhdxPhysicalSectorSizeItem, sizeof(uint32_t)}};
const int kVhdxItemCount = sizeof(kVhdxItems) / sizeof(kVhdxItems[0]);

VhdxLayout VhdxLayout::For(uint64_t diskSize, uint32_t logicalSectorSize,
                           uint32_t physicalSectorSize, uint32_t blockSize) {
  VhdxLayout layout;
  layout.diskSize = diskSize;
  layout.logicalSectorSize = logicalSectorSize;
  layout.physicalSectorSize = physicalSectorSize;
  layout.blockSize = blockSize == 0 ? kVhdxDefaultBlockSize : blockSize;
  layout.chunkRatio = kVhdxSectorsPerBitmapBlock * logicalSectorSize / layout.blockSize;
  layout.payloadBlocks = (diskSize + layout.blockSize - 1) / layout.blockSize;
  layout.batEntries = layout.payloadBlocks + (layout.payloadBlocks - 1) / layout.chunkRatio;
  layout.logOffset = kVhdxMiB;
  layout.logLength = kVhdxMiB;
  layout.metadataOffset = layout.logOffset + layout.logLength;
  layout.metadataLength = kVhdxMiB;
  layout.batOffset = layout.metadataOffset + layout.metadataLength;
  layout.batLength = (layout.batEntries * kVhdxBatEntrySize + kVhdxMiB - 1) / kVhdxMiB * kVhdxMiB;
  layout.dataOffset = layout.batOffset + layout.batLength;
  layout.fileSize = layout.dataOffset + layout.payloadBlocks * layout.blockSize;
  return layout;
}

void VhdxSeal(uint8_t* bytes, size_t length) {
  StoreLittle<uint32_t>(bytes + kVhdxChecksumOffset, 0);
  StoreLittle<uint32_t>(bytes + kVhdxChecksumOffset, Crc32c(bytes, length));
}

bool VhdxIsSealed(const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> copy(bytes, bytes + length);
  StoreLittle<uint32_t>(copy.data() + kVhdxChecksumOffset, 0);
  return Crc32c(copy.data(), length) == LoadLittle<uint32_t>(bytes + kVhdxChecksumOffset);
}

std::vector<uint8_t> VhdxFileIdentifierBytes() {
  std::vector<uint8_t> bytes(kVhdxFileIdentifierSize, 0);
  VhdxFileIdentifier* identifier = Front<VhdxFileIdentifier>(bytes);
  memcpy(identifier->signature, kVhdxFileSignature, sizeof(identifier->signature));
  for (size_t i = 0; kCreator[i] != '\0'; ++i) identifier->creator[i] = kCreator[i];
  return bytes;
}

std::vector<uint8_t> VhdxHeaderBytes(const VhdxLayout& layout, uint64_t sequenceNumber,
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
  VhdxSeal(bytes.data(), bytes.size());
  return bytes;
}

std::vector<uint8_t> VhdxRegionTableBytes(const VhdxLayout& layout) {
  std::vector<uint8_t> bytes(kVhdxRegionTableSize, 0);
  VhdxRegionTableHeader* table = Front<VhdxRegionTableHeader>(bytes);
  memcpy(table->signature, kVhdxRegionSignature, sizeof(table->signature));
  table->entryCount = 2;
  auto* entries = reinterpret_cast<VhdxRegionTableEntry*>(table + 1);
  entries[0] = Region(kVhdxBatRegion, layout.batOffset, layout.batLength);
  entries[1] = Region(kVhdxMetadataRegion, layout.metadataOffset, layout.metadataLength);
  VhdxSeal(bytes.data(), bytes.size());
  return bytes;
}

std::vector<uint8_t> VhdxMetadataBytes(const VhdxLayout& layout, const DiskGuid& diskId,
                                       uint32_t fileFlags) {
  std::vector<uint8_t> bytes(kVhdxMetadataTableSize, 0);
  VhdxMetadataTableHeader* table = Front<VhdxMetadataTableHeader>(bytes);
  memcpy(table->signature, kVhdxMetadataSignature, sizeof(table->signature));
  table->entryCount = kVhdxItemCount;
  auto* entries = reinterpret_cast<VhdxMetadataTableEntry*>(table + 1);
  uint32_t itemOffset = kVhdxMetadataTableSize;
  for (int i = 0; i < kVhdxItemCount; ++i) {
    // The file parameters describe this file; the rest describe the disk.
    const bool describesFile = SameDiskGuid(*kVhdxItems[i].id, kVhdxFileParametersItem);
    const uint32_t flags = kVhdxItemIsRequired | (describesFile ? 0 : kVhdxItemIsVirtualDisk);
    entries[i] = VhdxMetadataTableEntry{*kVhdxItems[i].id, itemOffset, kVhdxItems[i].length,
                                        flags, 0};
    itemOffset += kVhdxItems[i].length;
  }
  const std::vector<uint8_t> values = ItemValues(layout, diskId, fileFlags);
  bytes.insert(bytes.end(), values.begin(), values.end());
  return bytes;
}
