#pragma once

#include <cstdint>
#include <string>

// One store of the image as the manifest and the container describe it.
struct StoreDescription {
  std::wstring imagePath;     // path the image was loaded from
  uint64_t storeOffset = 0;   // absolute file offset of the store header
  uint64_t minSectorCount = 0;  // disk sector count; 0 = default disk size
  uint32_t sectorSize = 0;    // bytes per sector
  // Of an image of several stores, where the store's header group ends and
  // its payload lies in the file, known once the stores are read.
  uint64_t headersEnd = 0;
  uint64_t payloadOffset = 0;
  uint64_t payloadBytes = 0;
};
