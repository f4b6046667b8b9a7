#include "volumes/PartitionChoice.h"

#include "common/FixedValues.h"
#include "ffu/MountChoice.h"
#include "formats/GptRecords.h"

namespace {
uint64_t Length(const PARTITION_INFORMATION_EX& entry) {
  return entry.PartitionLength.QuadPart > 0 ? static_cast<uint64_t>(entry.PartitionLength.QuadPart)
                                            : 0;
}
}  // namespace

bool PartitionChoice::Includes(uint32_t entryIndex, const PARTITION_INFORMATION_EX& entry) const {
  if (!found) return false;
  return byName ? MatchPartitionName(entry, kMainPartitionName) : entryIndex == index;
}

PartitionChoice ChoosePartition(const DriveLayout& layout) {
  PartitionChoice choice;
  if (layout.buffer.size() < sizeof(DRIVE_LAYOUT_INFORMATION_EX::PartitionStyle) ||
      layout.Header().PartitionStyle != PARTITION_STYLE_GPT)
    return choice;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    if (MatchPartitionName(layout.Entry(i), kMainPartitionName)) {
      choice.found = true;
      choice.byName = true;
      return choice;
    }
  }
  std::vector<PartitionWeight> weights;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i)
    weights.push_back({AsDiskGuid(layout.Entry(i).Gpt.PartitionType), Length(layout.Entry(i))});
  const size_t largest = LargestBasicData(weights);
  if (largest == weights.size()) return choice;
  choice.found = true;
  choice.index = static_cast<uint32_t>(largest);
  return choice;
}
