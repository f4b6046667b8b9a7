#include "vhdx_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "crc32c.h"
#include "errors.h"

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

DWORD WriteAt(int fd, uint64_t offset, const void* bytes, size_t length) {
  const uint8_t* at = static_cast<const uint8_t*>(bytes);
  while (length > 0) {
    const ssize_t written = pwrite(fd, at, length, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Win32FromErrno(written < 0 && errno != 0 ? errno : EIO);
    at += written;
    offset += static_cast<uint64_t>(written);
    length -= static_cast<size_t>(written);
  }
  return ERROR_SUCCESS;
}

DWORD ReadAt(int fd, uint64_t offset, void* bytes, size_t length) {
  uint8_t* at = static_cast<uint8_t*>(bytes);
  while (length > 0) {
    const ssize_t got = pread(fd, at, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Win32FromErrno(got < 0 && errno != 0 ? errno : EIO);
    at += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return ERROR_SUCCESS;
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
  layout.batLength =
      (layout.batEntries * kVhdxBatEntrySize + kVhdxMiB - 1) / kVhdxMiB * kVhdxMiB;
  layout.dataOffset = layout.batOffset + layout.batLength;
  layout.fileSize = layout.dataOffset + layout.payloadBlocks * layout.blockSize;
  return layout;
}
