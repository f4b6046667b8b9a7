#include "ffu/DiskView.h"

#include <algorithm>
#include <cstring>

#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"

DiskView::DiskView(const FfuImage& image, const StoreReader& reader) : file(image.File()) {
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

// Reads at an offset and puts the file pointer back, so that the reads that
// go through the file in order (the table, the copy) go on where they were.
DWORD DiskView::ReadFileAt(uint64_t offset, uint8_t* buffer, uint64_t length) const {
  LARGE_INTEGER zero{};
  LARGE_INTEGER saved{};
  if (!SetFilePointerEx(file, zero, &saved, FILE_CURRENT)) return GetLastError();
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD error = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ? 0 : GetLastError();
  constexpr uint64_t kPiece = 1u << 30;
  while (error == 0 && length > 0) {
    DWORD want = static_cast<DWORD>(std::min(length, kPiece));
    DWORD got = 0;
    if (!ReadFile(file, buffer, want, &got, nullptr))
      error = GetLastError();
    else if (got == 0)
      error = ERROR_HANDLE_EOF;
    buffer += got;
    length -= got;
  }
  if (!SetFilePointerEx(file, saved, nullptr, FILE_BEGIN) && error == 0) error = GetLastError();
  return error;
}
