#include "ffu/DiskView.h"

#include <algorithm>
#include <cstring>

#include "ffu/ChunkedFileReader.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"

DiskView::DiskView(const FfuImage& image, const StoreReader& reader, ChunkedFileReader* checked)
    : file(image.File()), checked(checked) {
  const StoreDescription& store = reader.Store();
  sectorSize = store.sectorSize;
  uint64_t sectors = DiskSectorCount(store);
  diskBytes = sectorSize == 0 || sectors <= UINT64_MAX / sectorSize ? sectors * sectorSize
                                                                     : UINT64_MAX;
  const uint32_t blockSize = reader.BlockSize();
  uint64_t fileOffset = reader.PayloadOffset();
  runs.reserve(reader.Entries().size());
  for (const BlockDataEntry& entry : reader.Entries()) {
    uint64_t entryBytes = static_cast<uint64_t>(entry.blockCount) * blockSize;
    for (const TargetLocation& location : entry.locations) {
      uint64_t first = 0;
      uint64_t last = 0;
      // Places that do not lie on the disk are refused before a disk is
      // made; the view leaves them out.
      if (entry.blockCount == 0 ||
          !BlockTargetOffset(location, 0, blockSize, sectorSize, sectors, first) ||
          !BlockTargetOffset(location, entry.blockCount - 1, blockSize, sectorSize, sectors, last))
        continue;
      runs.push_back(Run{first, entryBytes, fileOffset});
    }
    fileOffset += entryBytes;
  }
}

DWORD DiskView::Read(uint64_t offset, void* buffer, size_t length) const {
  if (offset > diskBytes || length > diskBytes - offset) return ERROR_INVALID_PARAMETER;
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  std::memset(bytes, 0, length);
  const uint64_t end = offset + length;
  for (const Run& run : runs) {
    uint64_t from = std::max(offset, run.diskStart);
    uint64_t to = std::min(end, run.diskStart + run.length);
    if (from >= to) continue;
    DWORD error = ReadFileAt(run.fileOffset + (from - run.diskStart), bytes + (from - offset),
                             to - from);
    if (error != 0) return error;
  }
  return 0;
}

uint64_t DiskView::BytesWritten(uint64_t offset, uint64_t length) const {
  uint64_t written = 0;
  for (const Run& run : runs) {
    uint64_t from = std::max(offset, run.diskStart);
    uint64_t to = std::min(offset + length, run.diskStart + run.length);
    if (from < to) written += to - from;
  }
  return std::min(written, length);
}

DWORD DiskView::ReadFileAt(uint64_t offset, uint8_t* buffer, uint64_t length) const {
  if (checked != nullptr) return checked->Read(offset, buffer, length);
  return ChunkedFileReader::ReadFileAt(file, offset, buffer, length);
}
