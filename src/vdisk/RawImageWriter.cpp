#include "vdisk/RawImageWriter.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "common/Failure.h"
#include "common/Interruption.h"
#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "common/StatusLine.h"
#include "common/UniqueHandle.h"
#include "ffu/BlockStream.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/CopyCheck.h"
#include "vdisk/DiskImageSink.h"
#include "vdisk/OutputFile.h"
#include "vdisk/PayloadCopy.h"
#include "vdisk/VirtualDiskWriter.h"

namespace {
// Bytes read from the image at a time: large reads keep the extraction at
// the disk's speed, and the stream's few buffers of this size keep memory
// flat.
constexpr uint32_t kReadBytes = 4u << 20;

// The status line's words for each container.
constexpr const wchar_t* kStatusWords[] = {L"Extracting raw image", L"Extracting VHD file",
                                           L"Extracting VHDX file"};

std::wstring FormatStatus(const wchar_t* what, const wchar_t* state) {
  return std::wstring(what) + L" ... " + state;
}

struct Span {
  uint64_t start;
  uint64_t end;
};

// Zero blocks are left out of the file (they stay holes) unless two places
// of the table overlap: then a zero block may have to cover an earlier one.
bool PlacesOverlap(const StoreReader& reader, uint32_t sectorSize, uint64_t diskSectors) {
  std::vector<Span> spans;
  for (const BlockDataEntry& entry : reader.Entries()) {
    if (entry.blockCount == 0) continue;
    for (const TargetLocation& location : entry.locations) {
      uint64_t first = 0;
      BlockTargetOffset(location, 0, reader.BlockSize(), sectorSize, diskSectors, first);
      spans.push_back({first, first + uint64_t{entry.blockCount} * reader.BlockSize()});
    }
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.start < b.start; });
  for (size_t i = 1; i < spans.size(); ++i)
    if (spans[i].start < spans[i - 1].end) return true;
  return false;
}

bool AllZero(const uint8_t* data, uint32_t length) {
  return std::all_of(data, data + length, [](uint8_t byte) { return byte == 0; });
}

// Places the payload's blocks as the block stream hands them out, in file
// order.
class RangeWriter {
 public:
  RangeWriter(FfuImage& image, const StoreReader& reader, const DiskRange& range,
              DiskImageSink& output)
      : reader(reader),
        range(range),
        output(output),
        blockSize(reader.BlockSize()),
        sectorSize(reader.Store().sectorSize),
        diskSectors(DiskSectorCount(reader.Store())),
        blocks(image, reader, kReadBytes) {}

  bool Ready() const { return blocks.Ready(); }

  // Returns: 0, or non-zero after printing the failure.
  int WriteAll(StatusLine& status, const wchar_t* what) {
    const uint64_t total = reader.PayloadBlocks();
    int shown = 0;
    for (size_t e = 0; e < reader.Entries().size(); ++e) {
      const BlockDataEntry& entry = reader.Entries()[e];
      for (uint32_t k = 0; k < entry.blockCount; ++k) {
        const uint8_t* block = nullptr;
        int result = StopIfInterrupted();
        if (result == 0) result = NextBlock(block);
        if (result == 0) result = PlaceBlock(entry, k, block);
        if (result != 0) return result;
        int percent = static_cast<int>(++done * 100 / total);
        if (percent != shown) status.ShowPercent(what, shown = percent, false);
      }
    }
    blocks.WaitAll();
    return 0;
  }

 private:
  int NextBlock(const uint8_t*& block) {
    DWORD error = blocks.Next(block);
    if (error != 0) return FailWithError(error, reader.Store().imagePath.c_str());
    return 0;
  }

  // Writes the part of block `k` of `entry` that falls into the range, at
  // each place the entry names.
  int PlaceBlock(const BlockDataEntry& entry, uint32_t k, const uint8_t* block) {
    const bool zeros = AllZero(block, blockSize);
    for (const TargetLocation& location : entry.locations) {
      uint64_t target = 0;
      BlockTargetOffset(location, k, blockSize, sectorSize, diskSectors, target);
      uint64_t from = std::max(target, range.start);
      uint64_t to = std::min(target + blockSize, range.start + range.length);
      if (from >= to || (zeros && output.ReadsZeros(from - range.start, to - from))) continue;
      int result = output.Write(from - range.start, block + (from - target), to - from);
      if (result != 0) return result;
    }
    return 0;
  }

  const StoreReader& reader;
  DiskRange range;
  DiskImageSink& output;
  uint32_t blockSize;
  uint32_t sectorSize;
  uint64_t diskSectors;
  BlockStream blocks;
  uint64_t done = 0;  // blocks placed in all
};

// Checks what follows the payload and says what the check found.
// Returns: 0 for an image that matches its table or cannot be checked;
// otherwise non-zero after the lines that say why.
int FinishCheck(FfuImage& image, const StoreReader& reader, std::vector<PartitionSpan> partitions,
                bool partitionsKnown) {
  int result = CheckToFileEnd(image, reader);
  if (result != 0) return result;
  const ChunkVerifier& check = image.ChunkCheck();
  if (check.GetPlan() == ChunkVerifier::kChecking && !check.Checking())
    return PrintErrorLine(L"The image could not be checked to its end.\n");
  if (check.DamagedCount() == 0) return 0;
  DamageReport(image, reader, DiskSectorCount(reader.Store()), std::move(partitions),
               partitionsKnown)
      .Print();
  return PrintErrorLine(
      L"%u of the image's %u chunks do not match its hash "
      L"table; no disk image is written from a damaged image.\n",
      check.DamagedCount(), check.ChunkCount());
}
}  // namespace

int ExtractDiskImage(FfuImage& image, StoreReader& reader, const DiskRange& range,
                     const std::wstring& outPath, std::vector<PartitionSpan> partitions) {
  const StoreDescription& store = reader.Store();
  uint64_t diskSectors = DiskSectorCount(store);
  const ImageContainer container = ContainerOfPath(outPath);
  if (CheckPayload(reader, diskSectors) != 0 ||
      VirtualDiskWriter::CheckFits(container, range.length, store.sectorSize) != 0)
    return 1;
  OutputFile output(outPath);
  int result = output.Create();
  if (result != 0) return result;
  RawImageSink raw(output, !PlacesOverlap(reader, store.sectorSize, diskSectors));
  VirtualDiskWriter virtualDisk(output, container, range.length, store.sectorSize);
  DiskImageSink& sink = container == ImageContainer::kRaw ? static_cast<DiskImageSink&>(raw)
                                                           : virtualDisk;
  if (container == ImageContainer::kRaw && (result = raw.Start(range.length)) != 0) return result;
  const wchar_t* what = kStatusWords[static_cast<int>(container)];
  image.ChunkCheck().PrintPlan();
  StatusLine status;
  status.ShowPercent(what, 0, true);
  {
    RangeWriter writer(image, reader, range, sink);
    if (!writer.Ready()) return FailWithError(ERROR_NOT_ENOUGH_MEMORY);
    result = writer.WriteAll(status, what);
  }
  if (result != 0) return result;
  bool known = !partitions.empty();
  result = FinishCheck(image, reader, std::move(partitions), known);
  if (result == 0) result = StopIfInterrupted();
  if (result == 0) result = sink.Finish();
  if (result != 0) return result;
  status.Rewrite(FormatStatus(what, L"ok   \n").c_str());
  return 0;
}
