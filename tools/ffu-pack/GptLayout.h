#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

struct GptPartition {
  std::string name;  // the GPT name, UTF-16 narrowed to UTF-8
  uint64_t firstSector = 0;
  uint64_t lastSector = 0;
};

// What the packer needs from a disk's GUID partition table.
struct GptLayout {
  std::vector<GptPartition> partitions;
  uint64_t backupEntriesSector = 0;  // first sector of the backup GPT
};

// The sector size of a GPT disk image: 512 or 4096, wherever the primary
// header's signature stands in sector 1. Returns 0, or 1 with a message.
int DetectSectorSize(std::ifstream& disk, uint32_t* sectorSize, std::string* error);

// Reads the primary GPT header and entries and the backup header's entry
// position. Returns 0, or 1 with a message in `error`.
int ReadGptLayout(std::ifstream& disk, uint32_t sectorSize, GptLayout* layout,
                  std::string* error);
