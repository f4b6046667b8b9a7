#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ffu/StoreReader.h"

// A store table entry of `blockCount` blocks, written to each of `locations`.
inline BlockDataEntry MakeEntry(uint32_t blockCount, const std::vector<TargetLocation>& locations) {
  BlockDataEntry entry;
  entry.blockCount = blockCount;
  entry.locations.assign(locations.size(), TargetLocation());
  std::copy(locations.begin(), locations.end(), entry.locations.begin());
  return entry;
}
