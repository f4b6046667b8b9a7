#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/DiskGuid.h"

class DiskView;

// A partition as the GPT of a store's disk describes it.
struct ImagePartition {
  std::wstring name;  // the GPT name, up to its terminator (at most 36 units)
  DiskGuid type{};
  DiskGuid id{};      // the partition's own GUID, as the attached disk shows it
  uint64_t firstSector = 0;
  uint64_t lastSector = 0;
  uint64_t attributes = 0;
  uint32_t number = 0;  // 1-based place in the entry array

  // Returns: the bytes from the first sector to the last; 0 when the first
  // lies after the last.
  uint64_t Length(uint32_t sectorSize) const;
};

// The sectors a GPT gives to partitions, from its header; a disk without a
// GPT has none (`count` 0).
struct UsableSectors {
  uint64_t first = 0;
  uint64_t count = 0;
};

// Reads the GPT of the disk the view shows: the primary header in sector 1
// and its entries, both checked against their checksums. A disk without a
// GPT has no partitions. `storeNumber` (from 1) names the store in lines.
// Returns: 0 with `partitions` holding the used entries in table order (and
// `usable`, when given, the header's usable sectors); otherwise the
// character count of the failure line, after printing it.
int ReadPartitionTable(const DiskView& view, uint32_t storeNumber,
                       std::vector<ImagePartition>& partitions, UsableSectors* usable = nullptr);
