#include "vdisk/CopyCheck.h"

#include "common/Failure.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "volumes/DriveLayout.h"

namespace {
constexpr size_t kGptNameUnits = 36;
}  // namespace

std::vector<PartitionSpan> PartitionSpans(const DriveLayout& layout) {
  std::vector<PartitionSpan> spans;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (entry.PartitionLength.QuadPart <= 0) continue;
    PartitionSpan span;
    span.start = static_cast<uint64_t>(entry.StartingOffset.QuadPart);
    span.length = static_cast<uint64_t>(entry.PartitionLength.QuadPart);
    if (entry.PartitionStyle == PARTITION_STYLE_GPT) {
      for (size_t k = 0; k < kGptNameUnits && entry.Gpt.Name[k] != 0; ++k)
        span.name += static_cast<wchar_t>(entry.Gpt.Name[k]);
    } else {
      span.name = L"partition " + std::to_wstring(entry.PartitionNumber);
    }
    spans.push_back(span);
  }
  return spans;
}

int FinishImageCheck(FfuImage& image, const StoreReader& reader, HANDLE diskHandle,
                     uint64_t diskSectorCount) {
  ChunkVerifier& check = image.chunkCheck;
  if (check.Checking()) {
    uint64_t blocks = 0;
    for (const BlockDataEntry& entry : reader.entries) blocks += entry.blockCount;
    uint64_t payloadEnd = reader.payloadOffset + blocks * reader.BlockSize();
    if (!image.AdvanceTo(payloadEnd, image.fileSize))
      return FailWithError(0, reader.Store().imagePath.c_str());
    check.Finish();
  }
  check.PrintBroken();
  if (check.DamagedCount() == 0) return 0;
  DriveLayout layout;
  bool known = GetDriveLayout(diskHandle, layout) == 0;
  DamageReport(image, reader, diskSectorCount, known ? PartitionSpans(layout) : std::vector<PartitionSpan>(),
               known)
      .Print();
  return 0;
}
