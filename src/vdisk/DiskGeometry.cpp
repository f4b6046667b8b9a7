#include "vdisk/DiskGeometry.h"

#include "ffu/StoreDescription.h"

uint64_t DiskSectorCount(const StoreDescription& store) {
  if (store.sectorSize == 0) return 0;
  if (store.minSectorCount != 0) return store.minSectorCount;
  return kDefaultDiskBytes / store.sectorSize;
}
