#include "ffu/PartitionTable.h"

#include <algorithm>
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

// Where a partition may lie: after the primary GPT (its header and entries),
// inside the sectors the header gives to partitions and on the disk.
struct TableBounds {
  uint64_t entriesFirst = 0;
  uint64_t entriesLast = 0;
  uint64_t firstUsable = 0;
  uint64_t lastUsable = 0;
  uint64_t diskSectors = 0;
};

std::wstring SectorText(uint64_t sector) { return std::to_wstring(sector); }

bool Meets(uint64_t first, uint64_t last, uint64_t otherFirst, uint64_t otherLast) {
  return first <= otherLast && otherFirst <= last;
}

// A partition that lies over the table, off the disk or outside the usable
// sectors would get no volume (or a volume over the table's own sectors),
// so the table is refused before anything is made.
// Returns: 0, or the character count of the refusal line.
int CheckExtent(const ImagePartition& partition, const TableBounds& bounds, uint32_t storeNumber) {
  const uint64_t first = std::min(partition.firstSector, partition.lastSector);
  const uint64_t last = std::max(partition.firstSector, partition.lastSector);
  const std::wstring which = L"its partition " + std::to_wstring(partition.number) + L" '" +
                             PrintableName(partition.name) + L"' (sectors " + SectorText(first) +
                             L" to " + SectorText(last) + L")";
  std::wstring reason;
  if (Meets(first, last, 0, kGptPrimaryHeaderSector) ||
      Meets(first, last, bounds.entriesFirst, bounds.entriesLast))
    reason = which + L" lies over the GPT";
  else if (last >= bounds.diskSectors)
    reason = which + L" ends beyond the disk's last sector (" +
             SectorText(bounds.diskSectors - 1) + L")";
  else if (first < bounds.firstUsable || last > bounds.lastUsable)
    reason = which + L" lies outside the sectors its GPT gives to partitions (" +
             SectorText(bounds.firstUsable) + L" to " + SectorText(bounds.lastUsable) + L")";
  return reason.empty() ? 0 : Refuse(storeNumber, reason.c_str());
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
                       std::vector<ImagePartition>& partitions, UsableSectors* usable) {
  partitions.clear();
  if (usable != nullptr) *usable = UsableSectors();
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
  // A header copied from another place of a disk names that place as its own.
  if (header.currentSector != kGptPrimaryHeaderSector)
    return Refuse(storeNumber, L"its GPT header names another sector as its own");
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
  // The entries stay for a listing that shows them; the table is refused.
  const uint64_t entrySectors = (arrayBytes + sectorSize - 1) / sectorSize;
  const TableBounds bounds{header.entriesSector,
                           header.entriesSector + (entrySectors == 0 ? 0 : entrySectors - 1),
                           header.firstUsableSector, header.lastUsableSector,
                           view.DiskBytes() / sectorSize};
  for (const ImagePartition& partition : partitions) {
    const int result = CheckExtent(partition, bounds, storeNumber);
    if (result != 0) return result;
  }
  if (usable != nullptr && header.firstUsableSector <= header.lastUsableSector)
    *usable = {header.firstUsableSector, header.lastUsableSector - header.firstUsableSector + 1};
  return 0;
}
