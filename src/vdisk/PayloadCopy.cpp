#include "vdisk/PayloadCopy.h"

#include <memory>
#include <new>

#include "app/FormatWide.h"
#include "app/ReportWin32Error.h"
#include "app/StatusLine.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/DiskGeometry.h"
#include "vdisk/MountSession.h"
#include "volumes/DiskAttributes.h"

namespace {
constexpr size_t kStatusBufferSize = 1024;
// One block is the whole working set of the copy; larger blocks than this are
// not something an image can reasonably ask memory for.
constexpr uint32_t kMaxBlockSize = 64u << 20;

struct CopyGeometry {
  uint32_t blockSize;
  uint32_t sectorSize;
  uint64_t diskSectorCount;
};

void ShowProgress(StatusLine& status, int percent, bool first) {
  wchar_t text[kStatusBufferSize];
  FormatWide(text, kStatusBufferSize, L"Creating virtual disk ... %d%%\n", percent);
  if (first)
    status.Begin(text);
  else
    status.Rewrite(text);
}

// Checks every target of the table before anything is written, so that a
// table that points off the disk leaves the disk untouched.
int CheckTargets(const StoreReader& reader, const CopyGeometry& geometry) {
  for (uint32_t i = 0; i < reader.entries.size(); ++i) {
    const BlockDataEntry& entry = reader.entries[i];
    for (const TargetLocation& location : entry.locations) {
      uint64_t offset = 0;
      bool fits = entry.blockCount == 0 ||
                  BlockTargetOffset(location, entry.blockCount - 1, geometry.blockSize,
                                    geometry.sectorSize, geometry.diskSectorCount, offset);
      if (!fits || !BlockTargetOffset(location, 0, geometry.blockSize, geometry.sectorSize,
                                      geometry.diskSectorCount, offset))
        return PrintWide(L"(Korvex) !ERROR! Block data entry %d places a block outside the disk.\n",
                         static_cast<int>(i));
    }
  }
  return 0;
}

// Reads one block from the image; a read that ends early is the end of file.
int ReadBlock(HANDLE imageFile, uint8_t* buffer, uint32_t blockSize, const wchar_t* imagePath) {
  DWORD bytesRead = 0;
  if (!ReadFile(imageFile, buffer, blockSize, &bytesRead, nullptr))
    return static_cast<int>(ReportWin32Error(0, imagePath));
  if (bytesRead != blockSize) return static_cast<int>(ReportWin32Error(ERROR_HANDLE_EOF, imagePath));
  return 0;
}

int WriteBlock(HANDLE diskHandle, const uint8_t* buffer, uint32_t blockSize, uint64_t offset,
               const wchar_t* imagePath) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD written = 0;
  if (!SetFilePointerEx(diskHandle, position, nullptr, FILE_BEGIN) ||
      !WriteFile(diskHandle, buffer, blockSize, &written, nullptr))
    return static_cast<int>(ReportWin32Error(0, imagePath));
  return 0;
}

int CopyEntry(const BlockDataEntry& entry, HANDLE diskHandle, HANDLE imageFile, uint8_t* buffer,
              const CopyGeometry& geometry, const wchar_t* imagePath) {
  for (uint32_t k = 0; k < entry.blockCount; ++k) {
    int result = ReadBlock(imageFile, buffer, geometry.blockSize, imagePath);
    if (result != 0) return result;
    for (const TargetLocation& location : entry.locations) {
      uint64_t offset = 0;
      BlockTargetOffset(location, k, geometry.blockSize, geometry.sectorSize,
                        geometry.diskSectorCount, offset);
      result = WriteBlock(diskHandle, buffer, geometry.blockSize, offset, imagePath);
      if (result != 0) return result;
    }
  }
  return 0;
}
}  // namespace

bool BlockTargetOffset(const TargetLocation& location, uint32_t k, uint32_t blockSize,
                       uint32_t sectorSize, uint64_t diskSectorCount, uint64_t& offset) {
  if (sectorSize == 0 || blockSize < sectorSize) return false;
  using Wide = unsigned __int128;
  Wide diskBytes = static_cast<Wide>(diskSectorCount) * sectorSize;
  Wide start;
  if (location.origin == kOriginDiskEnd) {
    Wide sectorsPerBlock = blockSize / sectorSize;
    Wide fromEnd = (static_cast<Wide>(location.blockIndex) + 1) * sectorsPerBlock;
    if (fromEnd > diskSectorCount) return false;
    start = (static_cast<Wide>(diskSectorCount) - fromEnd) * sectorSize;
  } else {
    start = static_cast<Wide>(location.blockIndex) * blockSize;
  }
  Wide target = start + static_cast<Wide>(k) * blockSize;
  if (target + blockSize > diskBytes) return false;
  offset = static_cast<uint64_t>(target);
  return true;
}

int CopyPayload(StoreReader& reader, HANDLE diskHandle, HANDLE imageFile,
                uint64_t diskSectorCount) {
  const StoreDescription& store = *reader.image->FirstStore();
  const wchar_t* imagePath = store.imagePath.c_str();
  CopyGeometry geometry{reader.BlockSize(), store.sectorSize, diskSectorCount};

  StatusLine status;
  ShowProgress(status, 0, true);
  if (geometry.blockSize > kMaxBlockSize)
    return PrintWide(L"(Korvex) !ERROR! The store's block size of %u bytes is too large.\n",
                     geometry.blockSize);
  int result = CheckTargets(reader, geometry);
  if (result != 0) return result;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[geometry.blockSize]);
  if (!buffer) return static_cast<int>(ReportWin32Error(ERROR_NOT_ENOUGH_MEMORY));

  int shown = 0;
  uint64_t entryCount = reader.entries.size();
  for (uint64_t i = 0; i < entryCount; ++i) {
    result = CopyEntry(reader.entries[i], diskHandle, imageFile, buffer.get(), geometry,
                       imagePath);
    if (result != 0) return result;
    int percent = static_cast<int>(i * 100 / entryCount);
    if (percent != shown) {
      ShowProgress(status, percent, false);
      shown = percent;
    }
  }
  status.Rewrite(L"Creating virtual disk ... ok   \n");
  return 0;
}

int FillDisk(MountSession& session) {
  session.storeReader = new StoreReader();
  if (session.storeReader->LoadStore(session.image) != 0) return 1;
  uint64_t sectorCount = DiskSectorCount(*session.image->FirstStore());
  if (CopyPayload(*session.storeReader, session.diskHandle, session.image->file, sectorCount) != 0)
    return 1;
  if (UpdateDiskProperties(session.diskHandle) != 0) return 1;
  return 0;
}
