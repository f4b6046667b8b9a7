#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackOptions {
  uint32_t blockSize = 128 * 1024;
  uint32_t chunkKb = 128;
  uint32_t sectorSize = 512;
  uint32_t catalogSize = 1000;
  bool hashTableSizeGiven = false;  // else the table holds one hash per chunk
  uint32_t hashTableSize = 0;       // when given: the real hashes, cut or zero-filled
  uint32_t hashAlgorithm = 0x800C;  // the identifier written; the hashes are SHA-256
  std::vector<uint32_t> damageChunks;  // chunks whose last byte is flipped after hashing
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
