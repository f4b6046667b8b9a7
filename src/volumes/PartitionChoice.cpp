#include "volumes/PartitionChoice.h"

#include "common/FixedValues.h"
#include "formats/GptRecords.h"

namespace {
bool IsBasicData(const PARTITION_INFORMATION_EX& entry) {
  return SameDiskGuid(AsDiskGuid(entry.Gpt.PartitionType), kGptBasicDataType);
}

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
      choice.name = kMainPartitionName;
      return choice;
    }
  }
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (!IsBasicData(entry) || Length(entry) == 0) continue;
    if (choice.found && Length(entry) <= choice.length) continue;
    choice.found = true;
    choice.index = i;
    choice.length = Length(entry);
    choice.name = GptNameText(entry.Gpt.Name);
  }
  return choice;
}
