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

uint64_t BatEntry(const VhdxLayout& layout, uint64_t index) {
  const uint64_t period = layout.chunkRatio + 1;
  if ((index + 1) % period == 0) return kVhdxBitmapNotPresent;
  const uint64_t block = index - index / period;
  return VhdxPresentBlockEntry(layout.dataOffset + block * layout.blockSize);
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
  const std::vector<uint8_t> identifier = VhdxFileIdentifierBytes();
  const std::vector<uint8_t> regions = VhdxRegionTableBytes(layout);
  const std::vector<uint8_t> metadata =
      VhdxMetadataBytes(layout, NewRandomGuid(), kVhdxLeaveBlocksAllocated);
  DWORD code = ERROR_SUCCESS;
  for (int copy = 0; copy < 2 && code == ERROR_SUCCESS; ++copy) {
    const std::vector<uint8_t> header =
        VhdxHeaderBytes(layout, copy + 1, fileWriteId, dataWriteId);
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
