#include "vhdx_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "crc32c.h"
#include "support/runtime/errors.h"

namespace vhdx_format {

void Seal(uint8_t* bytes, size_t length) {
  StoreLittle<uint32_t>(bytes + kVhdxChecksumOffset, 0);
  StoreLittle<uint32_t>(bytes + kVhdxChecksumOffset, Crc32c(bytes, length));
}

bool IsSealed(const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> copy(bytes, bytes + length);
  StoreLittle<uint32_t>(copy.data() + kVhdxChecksumOffset, 0);
  return Crc32c(copy.data(), length) == LoadLittle<uint32_t>(bytes + kVhdxChecksumOffset);
}

namespace {

// Repeats `transfer` (pread or pwrite) until all `length` bytes have moved.
template <typename Transfer, typename Byte>
DWORD Whole(Transfer transfer, int fd, uint64_t offset, Byte* at, size_t length) {
  while (length > 0) {
    const ssize_t moved = transfer(fd, at, length, static_cast<off_t>(offset));
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) return Win32FromErrno(moved < 0 && errno != 0 ? errno : EIO);
    at += moved;
    offset += static_cast<uint64_t>(moved);
    length -= static_cast<size_t>(moved);
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD WriteAt(int fd, uint64_t offset, const void* bytes, size_t length) {
  return Whole(pwrite, fd, offset, static_cast<const uint8_t*>(bytes), length);
}

DWORD ReadAt(int fd, uint64_t offset, void* bytes, size_t length) {
  return Whole(pread, fd, offset, static_cast<uint8_t*>(bytes), length);
}

bool IsSectorSize(uint64_t size) { return size == 512 || size == 4096; }

bool IsBlockSize(uint64_t size) {
  return size >= kVhdxMinBlockSize && size <= kVhdxMaxBlockSize && (size & (size - 1)) == 0;
}

}  // namespace vhdx_format

using namespace vhdx_format;

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
