#include "ffu/DiskView.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "common/FileRange.h"
#include "ffu/ChunkedFileReader.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"

DiskView::DiskView(const FfuImage& image, const StoreReader& reader, ChunkedFileReader* checked)
    : file(image.File()), checked(checked) {
  const StoreDescription& store = reader.Store();
  sectorSize = store.sectorSize;
  uint64_t sectors = DiskSectorCount(store);
  diskBytes = sectorSize == 0 || sectors <= UINT64_MAX / sectorSize ? sectors * sectorSize
                                                                     : UINT64_MAX;
  const uint32_t blockSize = reader.BlockSize();
  uint64_t fileOffset = reader.PayloadOffset();
  runs.reserve(reader.Entries().size());
  for (const BlockDataEntry& entry : reader.Entries()) {
    uint64_t entryBytes = static_cast<uint64_t>(entry.blockCount) * blockSize;
    for (const TargetLocation& location : entry.locations) {
      uint64_t first = 0;
      uint64_t last = 0;
      // Places that do not lie on the disk are refused before a disk is
      // made; the view leaves them out.
      if (entry.blockCount == 0 ||
          !BlockTargetOffset(location, 0, blockSize, sectorSize, sectors, first) ||
          !BlockTargetOffset(location, entry.blockCount - 1, blockSize, sectorSize, sectors, last))
        continue;
      runs.push_back(Run{first, entryBytes, fileOffset});
    }
    fileOffset += entryBytes;
  }
  MakeDisjoint();
}

// Sorts the runs by their place on the disk and, where later entries write
// over earlier ones, keeps of each byte only the run that writes it last, so
// that a read finds its runs by a binary search.
void DiskView::MakeDisjoint() {
  std::vector<Run> sorted = runs;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Run& a, const Run& b) { return a.diskStart < b.diskStart; });
  bool overlaps = false;
  for (size_t i = 1; i < sorted.size() && !overlaps; ++i)
    overlaps = sorted[i].diskStart < sorted[i - 1].diskStart + sorted[i - 1].length;
  if (!overlaps) {
    runs = std::move(sorted);
    return;
  }
  std::map<uint64_t, Run> painted;  // by disk start
  for (const Run& run : runs) Paint(painted, run);
  runs.clear();
  for (const auto& [start, run] : painted) runs.push_back(run);
}

// Puts `run` over what `painted` holds, cutting the runs it covers.
void DiskView::Paint(std::map<uint64_t, Run>& painted, const Run& run) {
  const uint64_t end = run.diskStart + run.length;
  auto at = painted.lower_bound(run.diskStart);
  if (at != painted.begin()) {
    Run& before = std::prev(at)->second;
    const uint64_t beforeEnd = before.diskStart + before.length;
    if (beforeEnd > end) painted[end] = Slice(before, end, beforeEnd);
    if (beforeEnd > run.diskStart) before.length = run.diskStart - before.diskStart;
  }
  at = painted.lower_bound(run.diskStart);
  while (at != painted.end() && at->first < end) {
    const Run covered = at->second;
    at = painted.erase(at);
    const uint64_t coveredEnd = covered.diskStart + covered.length;
    if (coveredEnd > end) painted[end] = Slice(covered, end, coveredEnd);
  }
  painted[run.diskStart] = run;
}

DiskView::Run DiskView::Slice(const Run& run, uint64_t from, uint64_t to) {
  return Run{from, to - from, run.fileOffset + (from - run.diskStart)};
}

// Returns: the first run that ends after `offset`.
std::vector<DiskView::Run>::const_iterator DiskView::FirstRunAfter(uint64_t offset) const {
  return std::partition_point(runs.begin(), runs.end(), [offset](const Run& run) {
    return run.diskStart + run.length <= offset;
  });
}

DWORD DiskView::Read(uint64_t offset, void* buffer, size_t length) const {
  if (offset > diskBytes || length > diskBytes - offset) return ERROR_INVALID_PARAMETER;
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  const uint64_t end = offset + length;
  uint64_t filled = offset;  // bytes before it are read or zeroed
  for (auto run = FirstRunAfter(offset); run != runs.end() && run->diskStart < end; ++run) {
    const uint64_t from = std::max(offset, run->diskStart);
    const uint64_t to = std::min(end, run->diskStart + run->length);
    std::memset(bytes + (filled - offset), 0, from - filled);
    DWORD error = ReadFileAt(run->fileOffset + (from - run->diskStart), bytes + (from - offset),
                             to - from);
    if (error != 0) return error;
    filled = to;
  }
  std::memset(bytes + (filled - offset), 0, end - filled);
  return 0;
}

uint64_t DiskView::BytesWritten(uint64_t offset, uint64_t length) const {
  const uint64_t end = length > UINT64_MAX - offset ? UINT64_MAX : offset + length;
  uint64_t written = 0;
  for (auto run = FirstRunAfter(offset); run != runs.end() && run->diskStart < end; ++run)
    written += std::min(end, run->diskStart + run->length) - std::max(offset, run->diskStart);
  return written;
}

DWORD DiskView::ReadFileAt(uint64_t offset, uint8_t* buffer, uint64_t length) const {
  if (checked != nullptr) return checked->Read(offset, buffer, length);
  return ReadFileRange(file, offset, buffer, length);
}
