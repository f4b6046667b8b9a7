#include "vdisk/CopyCheck.h"

#include "common/Failure.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "formats/GptRecords.h"
#include "volumes/DriveLayout.h"

std::vector<PartitionSpan> PartitionSpans(const DriveLayout& layout) {
  std::vector<PartitionSpan> partitions;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (entry.PartitionLength.QuadPart <= 0) continue;
    partitions.push_back({static_cast<uint64_t>(entry.StartingOffset.QuadPart),
                          static_cast<uint64_t>(entry.PartitionLength.QuadPart),
                          entry.PartitionStyle == PARTITION_STYLE_GPT
                              ? GptNameText(entry.Gpt.Name)
                              : L"partition " + std::to_wstring(entry.PartitionNumber)});
  }
  const DRIVE_LAYOUT_INFORMATION_EX& header = layout.Header();
  const bool gpt = header.PartitionStyle == PARTITION_STYLE_GPT && header.Gpt.UsableLength.QuadPart > 0;
  return DiskSpans(std::move(partitions),
                   gpt ? static_cast<uint64_t>(header.Gpt.StartingUsableOffset.QuadPart) : 0,
                   gpt ? static_cast<uint64_t>(header.Gpt.UsableLength.QuadPart) : 0);
}

int CheckToFileEnd(FfuImage& image, const StoreReader& reader) {
  ChunkVerifier& check = image.ChunkCheck();
  if (check.Checking()) {
    uint64_t payloadEnd = reader.PayloadOffset() + reader.PayloadBlocks() * reader.BlockSize();
    if (const DWORD error = image.AdvanceTo(payloadEnd, image.FileSize()); error != 0)
      return FailWithError(error, reader.Store().imagePath.c_str());
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
