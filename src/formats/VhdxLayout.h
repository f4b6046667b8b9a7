// The bytes of a VHDX file's structures for a disk, and where its regions and
// blocks lie. Both builds write VHDX files through these: the Linux layer's
// disks with every block present, the extract's with only the blocks that
// hold data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/VhdxRecords.h"

// The block size when the caller asks for the default.
inline constexpr uint32_t kVhdxDefaultBlockSize = 32 * 1024 * 1024;

// Where the parts of a file lie, for one disk size, sector size and block
// size: the log, the metadata and the BAT each at 1 MiB and a whole number
// of MiB long, the payload blocks after them.
struct VhdxLayout {
  uint64_t diskSize = 0;
  uint32_t logicalSectorSize = 0;
  uint32_t physicalSectorSize = 0;
  uint32_t blockSize = 0;
  uint64_t chunkRatio = 0;     // payload blocks per sector bitmap block
  uint64_t payloadBlocks = 0;  // the last one may reach past the disk's end
  uint64_t batEntries = 0;     // payload entries with a bitmap entry after every chunk
  uint64_t logOffset = 0;
  uint64_t logLength = 0;
  uint64_t metadataOffset = 0;
  uint64_t metadataLength = 0;
  uint64_t batOffset = 0;
  uint64_t batLength = 0;
  uint64_t dataOffset = 0;  // the first payload block's place when every block is present
  uint64_t fileSize = 0;    // with every block present

  static VhdxLayout For(uint64_t diskSize, uint32_t logicalSectorSize,
                        uint32_t physicalSectorSize, uint32_t blockSize);

  // Returns: the BAT index of payload block `block` (a sector bitmap entry
  // follows every chunkRatio payload entries).
  uint64_t BatIndex(uint64_t block) const { return block + block / chunkRatio; }
};

// The metadata items these files carry, in the order they are written, with
// their lengths; every one is required.
struct VhdxKnownItem {
  const DiskGuid* id;
  uint32_t length;
};
extern const VhdxKnownItem kVhdxItems[];
extern const int kVhdxItemCount;

// Writes the CRC-32C of the whole structure into its checksum field.
void VhdxSeal(uint8_t* bytes, size_t length);
// Returns: whether the checksum field holds the structure's CRC-32C.
bool VhdxIsSealed(const uint8_t* bytes, size_t length);

// The structures, each its whole size: the file type identifier, a header
// (sequence number and write ids), the region table, and the metadata table
// with the items' values after it (`fileFlags`: kVhdxLeaveBlocksAllocated for
// a disk whose blocks are all present, else 0).
std::vector<uint8_t> VhdxFileIdentifierBytes();
std::vector<uint8_t> VhdxHeaderBytes(const VhdxLayout& layout, uint64_t sequenceNumber,
                                     const DiskGuid& fileWriteId, const DiskGuid& dataWriteId);
std::vector<uint8_t> VhdxRegionTableBytes(const VhdxLayout& layout);
std::vector<uint8_t> VhdxMetadataBytes(const VhdxLayout& layout, const DiskGuid& diskId,
                                       uint32_t fileFlags);

// Returns: the BAT entry of a payload block present at `fileOffset` (a
// multiple of 1 MiB).
inline uint64_t VhdxPresentBlockEntry(uint64_t fileOffset) {
  return kVhdxPayloadFullyPresent | ((fileOffset / kVhdxMiB) << kVhdxFileOffsetShift);
}
