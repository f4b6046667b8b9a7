#include "vdisk/CopyCheck.h"

#include "common/Failure.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "formats/GptRecords.h"
#include "volumes/DriveLayout.h"

std::vector<PartitionSpan> PartitionSpans(const DriveLayout& layout) {
  std::vector<PartitionSpan> spans;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (entry.PartitionLength.QuadPart <= 0) continue;
    PartitionSpan span;
    span.start = static_cast<uint64_t>(entry.StartingOffset.QuadPart);
    span.length = static_cast<uint64_t>(entry.PartitionLength.QuadPart);
    span.name = entry.PartitionStyle == PARTITION_STYLE_GPT
                    ? GptNameText(entry.Gpt.Name)
                    : L"partition " + std::to_wstring(entry.PartitionNumber);
    spans.push_back(span);
  }
  const DRIVE_LAYOUT_INFORMATION_EX& header = layout.Header();
  if (header.PartitionStyle == PARTITION_STYLE_GPT && header.Gpt.UsableLength.QuadPart > 0) {
    const uint64_t usableStart = static_cast<uint64_t>(header.Gpt.StartingUsableOffset.QuadPart);
    const uint64_t usableEnd =
        usableStart + static_cast<uint64_t>(header.Gpt.UsableLength.QuadPart);
    spans.push_back({0, usableStart, L"the partition table", true});
    spans.push_back({usableEnd, ~uint64_t{0} - usableEnd, L"the backup partition table", true});
  }
  return spans;
}

int CheckToFileEnd(FfuImage& image, const StoreReader& reader) {
  ChunkVerifier& check = image.ChunkCheck();
  if (check.Checking()) {
    uint64_t payloadEnd = reader.PayloadOffset() + reader.PayloadBlocks() * reader.BlockSize();
    if (!image.AdvanceTo(payloadEnd, image.FileSize()))
      return FailWithError(0, reader.Store().imagePath.c_str());
    check.Finish();
  }
  check.PrintBroken();
  return 0;
}

int FinishImageCheck(FfuImage& image, const StoreReader& reader, HANDLE diskHandle,
                     uint64_t diskSectorCount) {
  int result = CheckToFileEnd(image, reader);
  if (result != 0) return result;
  const ChunkVerifier& check = image.ChunkCheck();
  if (check.DamagedCount() == 0) return 0;
  DriveLayout layout;
  bool known = GetDriveLayout(diskHandle, layout) == 0;
  DamageReport(image, reader, diskSectorCount, known ? PartitionSpans(layout) : std::vector<PartitionSpan>(),
               known)
      .Print();
  return 0;
}
