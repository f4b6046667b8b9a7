#include "ffu/PartitionTable.h"

#include <cstring>

#include "common/Failure.h"
#include "ffu/DiskView.h"

namespace {
constexpr char kGptSignature[] = "EFI PART";
constexpr size_t kGptHeaderBytes = 92;
constexpr uint32_t kMinEntryBytes = 128;
constexpr size_t kGptNameUnits = 36;
// More entry bytes than any partitioning tool writes; a larger table is not
// read into memory.
constexpr uint64_t kMaxEntryArrayBytes = 1u << 20;

template <typename Value>
Value At(const uint8_t* bytes, size_t offset) {
  Value value;
  std::memcpy(&value, bytes + offset, sizeof(value));
  return value;
}

uint32_t Crc32(const uint8_t* bytes, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

int Refuse(uint32_t storeNumber, const wchar_t* reason) {
  return FailWithLine(
      L"(Korvex) !ERROR! Unable to read the partition table of store %u because %s.\n",
      storeNumber, reason);
}

int RefuseRead(uint32_t storeNumber, DWORD error) {
  FailWithLine(L"(Korvex) !ERROR! Unable to read the partition table of store %u.\n",
               storeNumber);
  return FailWithError(error);
}

ImagePartition EntryAt(const uint8_t* entry, uint32_t number) {
  ImagePartition partition;
  std::memcpy(&partition.type, entry, sizeof(GUID));
  std::memcpy(&partition.id, entry + 16, sizeof(GUID));
  partition.firstSector = At<uint64_t>(entry, 32);
  partition.lastSector = At<uint64_t>(entry, 40);
  partition.attributes = At<uint64_t>(entry, 48);
  for (size_t k = 0; k < kGptNameUnits; ++k) {
    uint16_t unit = At<uint16_t>(entry, 56 + 2 * k);
    if (unit == 0) break;
    partition.name += static_cast<wchar_t>(unit);
  }
  partition.number = number;
  return partition;
}

bool Unused(const uint8_t* entry) {
  for (size_t i = 0; i < sizeof(GUID); ++i)
    if (entry[i] != 0) return false;
  return true;
}
}  // namespace

uint64_t ImagePartition::Length(uint32_t sectorSize) const {
  return firstSector > lastSector ? 0 : (lastSector - firstSector + 1) * sectorSize;
}

int ReadPartitionTable(const DiskView& view, uint32_t storeNumber,
                       std::vector<ImagePartition>& partitions) {
  partitions.clear();
  const uint32_t sectorSize = view.SectorSize();
  if (sectorSize < kGptHeaderBytes || view.DiskBytes() / sectorSize < 2) return 0;
  std::vector<uint8_t> sector(sectorSize);
  DWORD error = view.Read(sectorSize, sector.data(), sectorSize);
  if (error != 0) return RefuseRead(storeNumber, error);
  const uint8_t* header = sector.data();
  if (std::memcmp(header, kGptSignature, 8) != 0) return 0;
  uint32_t headerSize = At<uint32_t>(header, 12);
  if (headerSize < kGptHeaderBytes || headerSize > sectorSize)
    return Refuse(storeNumber, L"its GPT header has a size this reader does not know");
  uint32_t headerCrc = At<uint32_t>(header, 16);
  std::memset(sector.data() + 16, 0, 4);
  if (Crc32(header, headerSize) != headerCrc)
    return Refuse(storeNumber, L"its GPT header does not match its checksum");
  uint64_t entriesSector = At<uint64_t>(header, 72);
  uint32_t entryCount = At<uint32_t>(header, 80);
  uint32_t entryBytes = At<uint32_t>(header, 84);
  uint64_t arrayBytes = static_cast<uint64_t>(entryCount) * entryBytes;
  if (entryBytes < kMinEntryBytes || entryBytes % 8 != 0 || arrayBytes > kMaxEntryArrayBytes ||
      entriesSector > view.DiskBytes() / sectorSize)
    return Refuse(storeNumber, L"its GPT entries have a layout this reader does not know");
  std::vector<uint8_t> entries(static_cast<size_t>(arrayBytes));
  error = view.Read(entriesSector * sectorSize, entries.data(), entries.size());
  if (error == ERROR_INVALID_PARAMETER)
    return Refuse(storeNumber, L"its GPT entries lie beyond the end of the disk");
  if (error != 0) return RefuseRead(storeNumber, error);
  if (Crc32(entries.data(), entries.size()) != At<uint32_t>(header, 88))
    return Refuse(storeNumber, L"its GPT entries do not match their checksum");
  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint8_t* entry = entries.data() + static_cast<size_t>(i) * entryBytes;
    if (!Unused(entry)) partitions.push_back(EntryAt(entry, i + 1));
  }
  return 0;
}
