#include "GptLayout.h"

#include <cstring>

#include "formats/GptRecords.h"

namespace {
constexpr uint32_t kMaxEntries = 1024;

bool ReadAt(std::ifstream& disk, uint64_t offset, uint8_t* buffer, size_t length) {
  disk.clear();
  disk.seekg(static_cast<std::streamoff>(offset));
  disk.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(length));
  return disk.gcount() == static_cast<std::streamsize>(length);
}

// GPT names are UTF-16LE; the manifest is 8-bit text, so encode as UTF-8.
std::string NarrowName(const GptEntry& entry) {
  std::string name;
  for (size_t i = 0; i < kGptNameUnits; ++i) {
    const uint32_t unit = entry.name[i];
    if (unit == 0) break;
    if (unit < 0x80) {
      name += static_cast<char>(unit);
    } else if (unit < 0x800) {
      name += static_cast<char>(0xC0 | unit >> 6);
      name += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      name += static_cast<char>(0xE0 | unit >> 12);
      name += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      name += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return name;
}

// The header in sector `sector`, when one stands there.
bool ReadHeader(std::ifstream& disk, uint64_t sector, uint32_t sectorSize, GptHeader* header) {
  return ReadAt(disk, sector * sectorSize, reinterpret_cast<uint8_t*>(header), sizeof(*header)) &&
         HasGptSignature(*header);
}
}  // namespace

int DetectSectorSize(std::ifstream& disk, uint32_t* sectorSize, std::string* error) {
  for (uint32_t size : {512u, 4096u}) {
    GptHeader header;
    if (ReadHeader(disk, kGptPrimaryHeaderSector, size, &header)) {
      *sectorSize = size;
      return 0;
    }
  }
  *error = "the disk image has no GPT header in sector 1 (for 512 or 4096-byte sectors)";
  return 1;
}

int ReadGptLayout(std::ifstream& disk, uint32_t sectorSize, GptLayout* layout, std::string* error) {
  GptHeader header;
  if (!ReadHeader(disk, kGptPrimaryHeaderSector, sectorSize, &header)) {
    *error = "the disk image has no GPT header in sector 1";
    return 1;
  }
  if (header.entryCount > kMaxEntries || header.entrySize < kGptMinEntrySize ||
      header.entrySize > 4096) {
    *error = "the GPT header declares an unusable entry table";
    return 1;
  }
  std::vector<uint8_t> entries(static_cast<size_t>(header.entryCount) * header.entrySize);
  if (!ReadAt(disk, header.entriesSector * sectorSize, entries.data(), entries.size())) {
    *error = "the GPT entry table lies outside the disk image";
    return 1;
  }
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    GptEntry entry;
    std::memcpy(&entry, &entries[static_cast<size_t>(i) * header.entrySize], sizeof(entry));
    if (IsUnusedGptEntry(entry)) continue;
    GptPartition partition;
    partition.firstSector = entry.firstSector;
    partition.lastSector = entry.lastSector;
    partition.name = NarrowName(entry);
    layout->partitions.push_back(partition);
  }
  GptHeader backup;
  if (!ReadHeader(disk, header.backupSector, sectorSize, &backup)) {
    *error = "the backup GPT header is missing";
    return 1;
  }
  layout->backupEntriesSector = backup.entriesSector;
  return 0;
}
