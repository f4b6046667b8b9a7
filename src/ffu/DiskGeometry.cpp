#include "ffu/DiskGeometry.h"

#include "common/ProgramLines.h"
#include "common/VirtualStorage.h"
#include "ffu/FfuLayout.h"
#include "ffu/LocationList.h"
#include "ffu/StoreDescription.h"

uint64_t DiskSectorCount(const StoreDescription& store) {
  if (store.sectorSize == 0) return 0;
  if (store.minSectorCount != 0) return store.minSectorCount;
  return kDefaultDiskBytes / store.sectorSize;
}

bool IsDiskSectorSize(uint32_t sectorSize) { return sectorSize == 512 || sectorSize == 4096; }

int CheckDiskLimits(const StoreDescription& store) {
  if (!IsDiskSectorSize(store.sectorSize))
    return PrintErrorLine(
        L"The image's sector size of %u bytes cannot be made into "
        L"a virtual disk, which takes 512 or 4096-byte sectors only.\n",
        store.sectorSize);
  if (DiskSectorCount(store) * store.sectorSize < kMinVirtualDiskBytes)
    return PrintErrorLine(
        L"The image's disk of %u sectors is smaller than the "
        L"3 MB a virtual disk needs at least.\n",
        static_cast<uint32_t>(DiskSectorCount(store)));
  return 0;
}

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
