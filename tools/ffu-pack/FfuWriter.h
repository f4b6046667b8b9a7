#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CatalogWriter.h"

struct PackOptions {
  uint32_t blockSize = 128 * 1024;
  uint32_t chunkKb = 128;
  uint32_t sectorSize = 0;  // 0: the disk image's own, found from its GPT
  // The catalog: --catalog-size gives filler bytes of that size, a catalog
  // file is written as it is; else one is built for the hash table.
  bool catalogSizeGiven = false;
  uint32_t catalogSize = 1000;
  std::string catalogFile;
  CatalogOptions catalog;
  bool hashTableSizeGiven = false;  // else the table holds one hash per chunk
  uint32_t hashTableSize = 0;       // when given: the real hashes, cut or zero-filled
  uint32_t hashAlgorithm = 0x800C;  // the identifier written; the hashes are SHA-256
  std::vector<uint32_t> damageChunks;  // chunks whose last byte is flipped after hashing
  uint32_t validationSize = 0;  // bytes of one validation entry (0, or 12 and more)
  // Headers as a compressed image lays them out (full flash version 3.0, a
  // compression field, longer entries); the payload stays as it is.
  bool compressed = false;
  bool entriesLengthGiven = false;  // else the length the entries take
  uint32_t entriesLength = 0;
  uint32_t storeVersion = 1;    // 1 or 2
  bool mergeRuns = false;       // adjacent data blocks share one entry
  bool minSectorCount = true;   // write "MinSectorCount" into the manifest
  bool twoLocations = false;    // every entry names a second place as well
  uint32_t copyOffset = 0;      // blocks between the two places
  // Damage for the tests of the reader's refusals; see kDamageNames.
  std::string damage;
  // When not 0: the file ends this many bytes into the store header.
  uint32_t endInStoreHeader = 0;
};

// What --damage accepts: a security signature and an image signature that
// differ in their trailing blanks, and a "Store" category named in lower case
// (an ordinary category then, so the manifest describes no store).
inline constexpr const char* kDamageNames[] = {"security-signature", "image-signature",
                                        "store-category"};

// Where the parts of a packed file begin.
struct PackedLayout {
  uint64_t imageHeader = 0;
  uint64_t manifest = 0;
  uint64_t storeHeader = 0;
  std::vector<uint64_t> storeHeaders;  // of the second and later stores
  uint64_t entries = 0;
  uint64_t payload = 0;
  uint64_t payloadBytes = 0;
  uint32_t blockSize = 0;
};

// Writes an FFU file from raw GPT disk images, one store each (several
// make a store version 2 image). Returns 0, or 1 with a message in `error`.
int PackFfu(const PackOptions& options, const std::vector<std::string>& diskPaths,
            const std::string& outPath, PackedLayout* layout, std::string* error);
