#include "vhdx_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "crc32c.h"

namespace vhdx_format {

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

}  // namespace vhdx_format

using namespace vhdx_format;

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
