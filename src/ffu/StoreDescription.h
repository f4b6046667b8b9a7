#pragma once

#include <cstdint>
#include <string>

// The image's one store as the manifest and the container describe it.
struct StoreDescription {
  std::wstring imagePath;     // path the image was loaded from
  uint64_t storeOffset = 0;   // absolute file offset of the store header
  uint64_t minSectorCount = 0;  // disk sector count; 0 = default disk size
  uint32_t sectorSize = 0;    // bytes per sector
};
