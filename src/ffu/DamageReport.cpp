#include "ffu/DamageReport.h"

#include <algorithm>

#include "common/ProgramLines.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"

namespace {
// Disk ranges named for one chunk before the rest are only counted.
constexpr size_t kShownRanges = 3;

struct FilePart {
  uint64_t start;
  uint64_t end;
  const wchar_t* name;  // nullptr: the payload
};

// In an image of several stores, the parts of the other stores are named by
// their store; the chosen store's parts are those of a single store.
std::vector<FilePart> StoreParts(const FfuImage& image, const StoreReader& reader,
                                 const FilePart (&single)[9], std::vector<std::wstring>& names) {
  const std::vector<StoreDescription>& stores = image.GetStores();
  names.clear();
  for (size_t i = 0; i < stores.size(); ++i) {
    names.push_back(L"store " + std::to_wstring(i + 1) + L"'s headers");
    names.push_back(L"store " + std::to_wstring(i + 1) + L"'s payload");
  }
  std::vector<FilePart> parts(single, single + 2);
  parts.push_back({single[1].end, stores[0].storeOffset, L"padding"});
  for (size_t i = 0; i < stores.size(); ++i) {
    if (&stores[i] != &reader.Store()) {
      parts.push_back({stores[i].storeOffset, stores[i].headersEnd, names[2 * i].c_str()});
      continue;
    }
    parts.insert(parts.end(), single + 3, single + 6);
    parts.push_back({reader.EntriesEnd(), stores[i].headersEnd, L"padding"});
  }
  uint64_t end = 0;
  for (size_t i = 0; i < stores.size(); ++i) {
    uint64_t payloadEnd = stores[i].payloadOffset + stores[i].payloadBytes;
    if (&stores[i] == &reader.Store())
      parts.push_back(single[7]);
    else
      parts.push_back({stores[i].payloadOffset, payloadEnd, names[2 * i + 1].c_str()});
    end = std::max(end, payloadEnd);
  }
  parts.push_back({end, image.FileSize(), L"bytes after the payload"});
  return parts;
}
}  // namespace

std::vector<PartitionSpan> DiskSpans(std::vector<PartitionSpan> partitions, uint64_t usableStart,
                                     uint64_t usableLength) {
  std::vector<PartitionSpan> spans;
  for (PartitionSpan& span : partitions)
    if (span.length != 0) spans.push_back(std::move(span));
  if (usableLength > 0) {
    const uint64_t usableEnd = usableStart + usableLength;
    spans.push_back({0, usableStart, L"the partition table", true});
    spans.push_back({usableEnd, ~uint64_t{0} - usableEnd, L"the backup partition table", true});
  }
  return spans;
}

std::vector<PartitionSpan> TableSpans(const std::vector<ImagePartition>& table,
                                      const UsableSectors& usable, uint32_t sectorSize) {
  std::vector<PartitionSpan> partitions;
  for (const ImagePartition& partition : table)
    partitions.push_back(
        {partition.firstSector * sectorSize, partition.Length(sectorSize), partition.name});
  return DiskSpans(std::move(partitions), usable.first * sectorSize, usable.count * sectorSize);
}

DamageReport::DamageReport(const FfuImage& image, const StoreReader& reader,
                           uint64_t diskSectorCount, std::vector<PartitionSpan> partitions,
                           bool partitionsKnown)
    : image(image),
      reader(reader),
      diskSectorCount(diskSectorCount),
      partitions(std::move(partitions)),
      partitionsKnown(partitionsKnown) {
  for (const BlockDataEntry& entry : reader.Entries()) {
    entryFirstBlock.push_back(payloadBlocks);
    payloadBlocks += entry.blockCount;
  }
}

std::wstring DamageReport::Describe(uint32_t index) const {
  const ChunkVerifier& check = image.ChunkCheck();
  uint64_t from = check.RegionStart() + static_cast<uint64_t>(index) * check.ChunkSize();
  uint64_t to = std::min(from + check.ChunkSize(), image.FileSize());
  uint64_t imageHeaderEnd = check.RegionStart() + sizeof(ImageHeader);
  uint64_t manifestEnd = imageHeaderEnd + image.GetImageHeader().manifestLength;
  uint64_t storeOffset = reader.Store().storeOffset;
  uint64_t payloadEnd = reader.PayloadOffset() + payloadBlocks * reader.BlockSize();
  const FilePart parts[] = {
      {check.RegionStart(), imageHeaderEnd, L"the image header"},
      {imageHeaderEnd, manifestEnd, L"the manifest"},
      {manifestEnd, storeOffset, L"padding"},
      {storeOffset, reader.ValidationOffset(), L"the store header"},
      {reader.ValidationOffset(), reader.EntriesOffset(), L"the validation area"},
      {reader.EntriesOffset(), reader.EntriesEnd(), L"the block data entries"},
      {reader.EntriesEnd(), reader.PayloadOffset(), L"padding"},
      {reader.PayloadOffset(), payloadEnd, nullptr},
      {payloadEnd, image.FileSize(), L"bytes after the payload"},
  };
  std::vector<FilePart> several;
  std::vector<std::wstring> names;
  if (image.GetStores().size() > 1) several = StoreParts(image, reader, parts, names);
  std::vector<std::wstring> items;
  for (const FilePart& part : several.empty() ? std::vector<FilePart>(std::begin(parts), std::end(parts))
                                              : several) {
    uint64_t start = std::max(from, part.start);
    uint64_t end = std::min(to, part.end);
    if (start >= end) continue;
    items.push_back(part.name != nullptr ? std::wstring(part.name) : DescribePayload(start, end));
  }
  return JoinedList(items);
}

std::wstring DamageReport::DescribePayload(uint64_t from, uint64_t to) const {
  std::vector<DiskRange> ranges = PayloadRanges(from, to);
  if (ranges.empty()) return L"payload that is written nowhere on the disk";
  std::vector<std::wstring> shown;
  for (size_t i = 0; i < ranges.size() && i < kShownRanges; ++i)
    shown.push_back(DescribeRange(ranges[i]));
  size_t more = ranges.size() > kShownRanges ? ranges.size() - kShownRanges : 0;
  if (more > 0) shown.push_back(std::to_wstring(more) + (more == 1 ? L" more range" : L" more ranges"));
  return L"payload for disk bytes " + JoinedList(shown);
}

// The disk ranges that the payload bytes [from, to) of the file were
// written to, in file order, neighbours on the disk joined.
std::vector<DamageReport::DiskRange> DamageReport::PayloadRanges(uint64_t from, uint64_t to) const {
  std::vector<DiskRange> ranges;
  uint32_t blockSize = reader.BlockSize();
  uint32_t sectorSize = reader.Store().sectorSize;
  for (uint64_t at = from; at < to;) {
    uint64_t block = (at - reader.PayloadOffset()) / blockSize;
    uint64_t blockStart = reader.PayloadOffset() + block * blockSize;
    uint64_t end = std::min(to, blockStart + blockSize);
    size_t entryIndex =
        std::upper_bound(entryFirstBlock.begin(), entryFirstBlock.end(), block) -
        entryFirstBlock.begin() - 1;
    const BlockDataEntry& entry = reader.Entries()[entryIndex];
    uint32_t k = static_cast<uint32_t>(block - entryFirstBlock[entryIndex]);
    for (const TargetLocation& location : entry.locations) {
      uint64_t target = 0;
      if (!BlockTargetOffset(location, k, blockSize, sectorSize, diskSectorCount, target)) continue;
      DiskRange range{target + (at - blockStart), target + (end - blockStart)};
      if (!ranges.empty() && ranges.back().end == range.start)
        ranges.back().end = range.end;
      else
        ranges.push_back(range);
    }
    at = end;
  }
  return ranges;
}

std::wstring DamageReport::DescribeRange(const DiskRange& range) const {
  std::wstring text = std::to_wstring(range.start) + L" to " + std::to_wstring(range.end - 1);
  if (!partitionsKnown) return text;
  std::vector<std::wstring> names;
  for (const PartitionSpan& partition : partitions)
    if (range.start < partition.start + partition.length && partition.start < range.end)
      names.push_back(partition.table ? partition.name
                                      : L"'" + PrintableName(partition.name) + L"'");
  return text + (names.empty() ? L" outside every partition" : L" in " + JoinedList(names));
}

void DamageReport::Print() const {
  const ChunkVerifier& check = image.ChunkCheck();
  for (uint32_t index : check.FirstDamaged()) {
    uint64_t from = check.RegionStart() + static_cast<uint64_t>(index) * check.ChunkSize();
    uint64_t to = std::min(from + check.ChunkSize(), image.FileSize());
    std::wstring first = std::to_wstring(from);
    std::wstring last = std::to_wstring(to - 1);
    std::wstring holds = Describe(index);
    PrintWarningLine(
        L"Chunk %u (file bytes %s to %s) does not match the image's "
        L"hash table; it holds %s.\n",
        index, first.c_str(), last.c_str(), holds.c_str());
  }
  uint32_t rest = check.DamagedCount() - static_cast<uint32_t>(check.FirstDamaged().size());
  if (rest > 0) PrintWarningLine(L"%u more chunks do not match the image's hash table.\n", rest);
}
