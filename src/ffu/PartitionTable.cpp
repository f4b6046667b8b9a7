#include "ffu/PartitionTable.h"

#include <cstddef>
#include <cstring>

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "ffu/DiskView.h"
#include "formats/GptRecords.h"
#include "platform.h"

namespace {
// More entry bytes than any partitioning tool writes; a larger table is not
// read into memory.
constexpr uint64_t kMaxEntryArrayBytes = 1u << 20;

uint32_t Crc32(const uint8_t* bytes, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

int Refuse(uint32_t storeNumber, const wchar_t* reason) {
  return PrintErrorLine(L"Unable to read the partition table of store %u because %s.\n",
                        storeNumber, reason);
}

int RefuseRead(uint32_t storeNumber, DWORD error) {
  PrintErrorLine(L"Unable to read the partition table of store %u.\n", storeNumber);
  return FailWithError(error);
}

ImagePartition FromEntry(const GptEntry& entry, uint32_t number) {
  ImagePartition partition;
  partition.type = entry.typeId;
  partition.id = entry.partitionId;
  partition.firstSector = entry.firstSector;
  partition.lastSector = entry.lastSector;
  partition.attributes = entry.attributes;
  partition.name = GptNameText(entry.name);
  partition.number = number;
  return partition;
}
}  // namespace

uint64_t ImagePartition::Length(uint32_t sectorSize) const {
  return firstSector > lastSector ? 0 : (lastSector - firstSector + 1) * sectorSize;
}

int ReadPartitionTable(const DiskView& view, uint32_t storeNumber,
                       std::vector<ImagePartition>& partitions) {
  partitions.clear();
  const uint32_t sectorSize = view.SectorSize();
  if (sectorSize < sizeof(GptHeader) || view.DiskBytes() / sectorSize <= kGptPrimaryHeaderSector)
    return 0;
  std::vector<uint8_t> sector(sectorSize);
  DWORD error = view.Read(kGptPrimaryHeaderSector * sectorSize, sector.data(), sectorSize);
  if (error != 0) return RefuseRead(storeNumber, error);
  GptHeader header;
  std::memcpy(&header, sector.data(), sizeof(header));
  if (!HasGptSignature(header)) return 0;
  if (header.headerSize < sizeof(GptHeader) || header.headerSize > sectorSize)
    return Refuse(storeNumber, L"its GPT header has a size this reader does not know");
  std::memset(sector.data() + offsetof(GptHeader, headerCrc32), 0, sizeof(header.headerCrc32));
  if (Crc32(sector.data(), header.headerSize) != header.headerCrc32)
    return Refuse(storeNumber, L"its GPT header does not match its checksum");
  uint64_t arrayBytes = static_cast<uint64_t>(header.entryCount) * header.entrySize;
  if (header.entrySize < kGptMinEntrySize || header.entrySize % 8 != 0 ||
      arrayBytes > kMaxEntryArrayBytes || header.entriesSector > view.DiskBytes() / sectorSize)
    return Refuse(storeNumber, L"its GPT entries have a layout this reader does not know");
  std::vector<uint8_t> entries(static_cast<size_t>(arrayBytes));
  error = view.Read(header.entriesSector * sectorSize, entries.data(), entries.size());
  if (error == ERROR_INVALID_PARAMETER)
    return Refuse(storeNumber, L"its GPT entries lie beyond the end of the disk");
  if (error != 0) return RefuseRead(storeNumber, error);
  if (Crc32(entries.data(), entries.size()) != header.entriesCrc32)
    return Refuse(storeNumber, L"its GPT entries do not match their checksum");
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    GptEntry entry;
    std::memcpy(&entry, entries.data() + static_cast<size_t>(i) * header.entrySize, sizeof(entry));
    if (!IsUnusedGptEntry(entry)) partitions.push_back(FromEntry(entry, i + 1));
  }
  return 0;
}
