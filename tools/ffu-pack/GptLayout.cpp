#include "GptLayout.h"

#include <cstring>

namespace {
constexpr char kGptSignature[] = "EFI PART";
constexpr uint32_t kMaxEntries = 1024;
constexpr uint32_t kEntryNameOffset = 56;
constexpr uint32_t kNameUnits = 36;

uint64_t LittleEndian(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

bool ReadAt(std::ifstream& disk, uint64_t offset, uint8_t* buffer, size_t length) {
  disk.clear();
  disk.seekg(static_cast<std::streamoff>(offset));
  disk.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(length));
  return disk.gcount() == static_cast<std::streamsize>(length);
}

// GPT names are UTF-16LE; the manifest is 8-bit text, so encode as UTF-8.
std::string NarrowName(const uint8_t* units) {
  std::string name;
  for (uint32_t i = 0; i < kNameUnits; ++i) {
    uint32_t unit = static_cast<uint32_t>(LittleEndian(units + 2 * i, 2));
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

bool IsGptHeader(const uint8_t* header) {
  return std::memcmp(header, kGptSignature, 8) == 0;
}
}  // namespace

int DetectSectorSize(std::ifstream& disk, uint32_t* sectorSize, std::string* error) {
  for (uint32_t size : {512u, 4096u}) {
    uint8_t signature[8];
    if (ReadAt(disk, size, signature, sizeof(signature)) && IsGptHeader(signature)) {
      *sectorSize = size;
      return 0;
    }
  }
  *error = "the disk image has no GPT header in sector 1 (for 512 or 4096-byte sectors)";
  return 1;
}

int ReadGptLayout(std::ifstream& disk, uint32_t sectorSize, GptLayout* layout,
                  std::string* error) {
  std::vector<uint8_t> header(sectorSize);
  if (!ReadAt(disk, sectorSize, header.data(), sectorSize) || !IsGptHeader(header.data())) {
    *error = "the disk image has no GPT header in sector 1";
    return 1;
  }
  uint64_t backupSector = LittleEndian(&header[32], 8);
  uint64_t entriesSector = LittleEndian(&header[72], 8);
  uint32_t entryCount = static_cast<uint32_t>(LittleEndian(&header[80], 4));
  uint32_t entrySize = static_cast<uint32_t>(LittleEndian(&header[84], 4));
  if (entryCount > kMaxEntries || entrySize < 128 || entrySize > 4096) {
    *error = "the GPT header declares an unusable entry table";
    return 1;
  }
  std::vector<uint8_t> entries(static_cast<size_t>(entryCount) * entrySize);
  if (!ReadAt(disk, entriesSector * sectorSize, entries.data(), entries.size())) {
    *error = "the GPT entry table lies outside the disk image";
    return 1;
  }
  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint8_t* entry = &entries[static_cast<size_t>(i) * entrySize];
    bool unused = true;
    for (int b = 0; b < 16; ++b) unused = unused && entry[b] == 0;
    if (unused) continue;
    GptPartition partition;
    partition.firstSector = LittleEndian(entry + 32, 8);
    partition.lastSector = LittleEndian(entry + 40, 8);
    partition.name = NarrowName(entry + kEntryNameOffset);
    layout->partitions.push_back(partition);
  }
  std::vector<uint8_t> backup(sectorSize);
  if (!ReadAt(disk, backupSector * sectorSize, backup.data(), sectorSize) ||
      !IsGptHeader(backup.data())) {
    *error = "the backup GPT header is missing";
    return 1;
  }
  layout->backupEntriesSector = LittleEndian(&backup[72], 8);
  return 0;
}
