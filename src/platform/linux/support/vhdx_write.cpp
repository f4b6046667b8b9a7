// Writing a VHDX file: every payload block present, one after the other.
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "errors.h"
#include "vhdx.h"
#include "vhdx_format.h"

using namespace vhdx_format;

namespace {

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

}  // namespace

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
