#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ffu/DamageReport.h"
#include "ffu/PartitionTable.h"
#include "ffu/StoreSet.h"

class FfuImage;

// Every store of a loaded image with the partition table of each, read from
// the file through the stores' disk views: what --list, --check and
// --extract look at.
struct ImageStores {
  StoreSet stores;
  std::vector<std::vector<ImagePartition>> tables;
  std::vector<UsableSectors> usable;  // of each table, for the damage lines

  // Reads every store, then (with `withTables`) every partition table, after
  // refusing a sector size that no disk has.
  // Returns: 0, or non-zero after the lines that say why.
  int Load(FfuImage& image, bool withTables);
  // Returns: the sector size of each store's disk, in store order.
  std::vector<uint32_t> SectorSizes() const;
  // Returns: the partitions of store `index` as the damage lines name them.
  std::vector<PartitionSpan> Spans(size_t index) const;
  // Finds the one partition named `name` in all the tables.
  // Returns: 0 with `store` and `partition` set; otherwise the character
  // count of the line that says no partition, or more than one, has it.
  int FindNamed(const std::wstring& name, size_t& store, const ImagePartition*& partition) const;
};
