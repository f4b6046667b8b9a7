#pragma once

#include <cstdint>
#include <string>

#include "volumes/DriveLayout.h"

// The partition an image is browsed by: every partition named "MainOS";
// without one, the largest basic data partition alone (the first of equal
// size); without that either, none.
struct PartitionChoice {
  bool found = false;
  bool byName = false;   // the partitions named "MainOS"
  uint32_t index = 0;    // the one entry chosen instead

  // Returns: true when the entry is one of those chosen.
  bool Includes(uint32_t entryIndex, const PARTITION_INFORMATION_EX& entry) const;
};

// Returns: the choice for the layout; `found` is false for a layout that is
// not GPT or holds neither kind of partition.
PartitionChoice ChoosePartition(const DriveLayout& layout);
