#include "ffu/DiskGeometry.h"

#include "ffu/StoreDescription.h"
#include "ffu/FfuLayout.h"
#include "ffu/LocationList.h"

uint64_t DiskSectorCount(const StoreDescription& store) {
  if (store.sectorSize == 0) return 0;
  if (store.minSectorCount != 0) return store.minSectorCount;
  return kDefaultDiskBytes / store.sectorSize;
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
