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
  // A disk too large for 64-bit offsets ends, for them, at the last one.
  uint64_t diskBytes = 0;
  if (__builtin_mul_overflow(diskSectorCount, uint64_t{sectorSize}, &diskBytes))
    diskBytes = UINT64_MAX;
  uint64_t start = 0;
  if (location.origin == kOriginDiskEnd) {
    uint64_t fromEnd = 0;  // sectors
    if (__builtin_mul_overflow(uint64_t{location.blockIndex} + 1, uint64_t{blockSize / sectorSize},
                               &fromEnd) ||
        fromEnd > diskSectorCount ||
        __builtin_mul_overflow(diskSectorCount - fromEnd, uint64_t{sectorSize}, &start))
      return false;
  } else if (__builtin_mul_overflow(uint64_t{location.blockIndex}, uint64_t{blockSize}, &start)) {
    return false;
  }
  uint64_t target = 0;
  uint64_t end = 0;
  if (__builtin_mul_overflow(uint64_t{k}, uint64_t{blockSize}, &target) ||
      __builtin_add_overflow(start, target, &target) ||
      __builtin_add_overflow(target, uint64_t{blockSize}, &end) || end > diskBytes)
    return false;
  offset = target;
  return true;
}
