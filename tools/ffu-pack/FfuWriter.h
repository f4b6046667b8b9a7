#pragma once

#include <cstdint>
#include <string>

struct PackOptions {
  uint32_t blockSize = 128 * 1024;
  uint32_t chunkKb = 128;
  uint32_t sectorSize = 0;  // 0: the disk image's own, found from its GPT
  uint32_t catalogSize = 1000;
  uint32_t hashTableSize = 3000;
  uint32_t validationSize = 0;  // bytes between the store header and the entries
  uint32_t storeVersion = 1;    // 1 or 2
  bool mergeRuns = false;       // adjacent data blocks share one entry
  bool minSectorCount = true;   // write "MinSectorCount" into the manifest
  bool twoLocations = false;    // every entry names a second place as well
  uint32_t copyOffset = 0;      // blocks between the two places
};

// Writes an FFU file from a raw GPT disk image. Returns 0, or 1 with a
// message in `error`.
int PackFfu(const PackOptions& options, const std::string& diskPath,
            const std::string& outPath, std::string* error);
