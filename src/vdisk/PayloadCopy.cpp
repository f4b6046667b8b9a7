#include "vdisk/PayloadCopy.h"

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "common/Failure.h"
#include "common/FormatWide.h"
#include "common/Interruption.h"
#include "common/ProgramLines.h"
#include "common/StatusLine.h"
#include "ffu/BlockStream.h"
#include "ffu/ChunkHashPool.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/BlockRun.h"
#include "vdisk/CopyCheck.h"
#include "vdisk/RunWriter.h"
#include "volumes/DiskAttributes.h"

namespace {
// A block larger than this is not something an image can reasonably ask
// memory for.
constexpr uint32_t kMaxBlockSize = 64u << 20;

struct CopyGeometry {
  uint32_t blockSize;
  uint32_t sectorSize;
  uint64_t diskSectorCount;
};

// Blocks held back to the end of the copy at most; a held block that is
// written earlier keeps table order all the same.
constexpr size_t kMaxHeldBlocks = 4;

// Checks every target of the table before anything is written, so that a
// table that points off the disk leaves the disk untouched.
int CheckTargets(const StoreReader& reader, const CopyGeometry& geometry) {
  for (uint32_t i = 0; i < reader.Entries().size(); ++i) {
    const BlockDataEntry& entry = reader.Entries()[i];
    if (entry.blockCount == 0) continue;  // writes nothing anywhere
    for (const TargetLocation& location : entry.locations) {
      uint64_t offset = 0;
      bool fits = BlockTargetOffset(location, 0, geometry.blockSize, geometry.sectorSize,
                                    geometry.diskSectorCount, offset) &&
                  BlockTargetOffset(location, entry.blockCount - 1, geometry.blockSize,
                                    geometry.sectorSize, geometry.diskSectorCount, offset);
      if (!fits)
        return PrintErrorLine(L"Block data entry %d places a block outside the disk.\n",
                              static_cast<int>(i));
    }
  }
  return 0;
}

// Bytes gathered for one write to the disk: large enough for unbuffered
// writes to run at the disk's speed, small enough to keep memory flat.
constexpr uint32_t kRunBytes = 4u << 20;

// Runs in memory: one being written, one queued behind it, one filling.
constexpr uint32_t kRunBuffers = 3;

// Bytes the block stream reads at a time; the runs gather its blocks.
constexpr uint64_t kPieceBytes = 1u << 20;

// The hash pool takes the processors that the copy and the system's work for
// the disk writes leave idle.
constexpr ChunkHashPool::Priority kHashPriority = ChunkHashPool::kIdleUnlessAwaited;

// Shows the progress of entries once their blocks are on the disk, one
// rewrite for every change of the whole percentage, in entry order.
class Progress {
 public:
  Progress(StatusLine& status, uint64_t entryCount) : status(status), entryCount(entryCount) {}
  // Entries before `entry` are written.
  void WrittenUpTo(uint64_t entry) {
    for (; reported < entry; ++reported) {
      int percent = static_cast<int>(reported * 100 / entryCount);
      if (percent != shown) {
        status.ShowPercent(L"Creating virtual disk", percent, false);
        shown = percent;
      }
    }
  }

 private:
  StatusLine& status;
  uint64_t entryCount;
  uint64_t reported = 0;
  int shown = 0;
};

// Copies the payload in table order: blocks of single-place entries that
// follow each other on the disk go out as one run; entries that name several
// places write each block to each place. The blocks that hold the sectors of
// the partition tables' headers (the protective MBR and the primary header
// at the disk's start, the backup header at its end) are held back and
// written last: the system finds partitions, and mounts their volumes, once
// a table is there, and refuses writes inside a mounted volume. A later
// block that overlaps a held one has the held ones written before it.
// Blocks come from the block stream, which has the hash pool check them,
// and are gathered into runs that the disk writer's thread writes while the
// next ones fill.
class PayloadWriter {
 public:
  PayloadWriter(FfuImage& image, const StoreReader& reader, const CopyGeometry& geometry,
                HANDLE diskHandle, const wchar_t* diskPath, Progress& progress)
      : geometry(geometry),
        runs(MakeRuns(geometry.blockSize)),
        writeOf(runs.size(), 0),
        run(runs.front().get()),
        diskHandle(diskHandle),
        imagePath(reader.Store().imagePath.c_str()),
        diskPath(diskPath),
        progress(progress),
        blocks(image, reader, kPieceBytes, kHashPriority),
        writer(diskHandle, static_cast<uint32_t>(runs.size())) {}

  bool Ready() const {
    for (const std::unique_ptr<BlockRun>& buffer : runs)
      if (!buffer->Allocated()) return false;
    return blocks.Ready();
  }

  int CopyEntry(const BlockDataEntry& entry, uint64_t index) {
    for (uint32_t k = 0; k < entry.blockCount; ++k) {
      int result = 0;
      if (HoldsTableHeader(entry, k)) {
        result = HoldBlock(entry, k, index);
      } else {
        if (OverlapsHeld(entry, k)) result = WriteHeld(index);
        if (result == 0)
          result = entry.locations.size() == 1 ? StageBlock(entry.locations[0], k, index)
                                               : CopyBlock(entry, k, index);
      }
      if (result != 0) return result;
    }
    if (run->Empty()) Completed(index + 1);
    return 0;
  }

  int Finish(uint64_t entryCount) {
    int result = WriteHeld(entryCount);
    blocks.WaitAll();
    return result;
  }

 private:
  static std::vector<std::unique_ptr<BlockRun>> MakeRuns(uint32_t blockSize) {
    const uint32_t capacity = blockSize >= kRunBytes ? 1 : kRunBytes / blockSize;
    std::vector<std::unique_ptr<BlockRun>> made;
    for (uint32_t i = 0; i < kRunBuffers; ++i)
      made.push_back(std::make_unique<BlockRun>(blockSize, capacity));
    return made;
  }

  uint64_t Target(const TargetLocation& location, uint32_t k) const {
    uint64_t offset = 0;
    BlockTargetOffset(location, k, geometry.blockSize, geometry.sectorSize,
                      geometry.diskSectorCount, offset);
    return offset;
  }

  // Returns: 0 with `block` at the next payload block, or the Win32 code of
  // a failed or short read (ERROR_HANDLE_EOF) after reporting it.
  int NextBlock(const uint8_t*& block) {
    DWORD error = blocks.Next(block);
    return error != 0 ? FailWithError(error, imagePath) : 0;
  }

  // Goes on in the next buffer once its earlier write is done.
  // Returns: 0, or the Win32 code of a failed write after reporting it.
  int NextBuffer() {
    next = (next + 1) % runs.size();
    run = runs[next].get();
    return writeOf[next] != 0 ? Settle(writeOf[next] - 1) : 0;
  }

  // Entries before `index` are complete once the writes queued so far are.
  void Completed(uint64_t index) {
    if (unreported.empty())
      progress.WrittenUpTo(index);
    else
      unreported.back().second = index;
  }

  // Waits for the queued writes up to `ticket`, in order, and shows the
  // entries each completes.
  // Returns: 0, or the Win32 code of a failed write after reporting it.
  int Settle(uint64_t ticket) {
    while (!unreported.empty() && unreported.front().first <= ticket) {
      DWORD code = writer.WaitFor(unreported.front().first);
      if (code != 0) return FailWithError(code, diskPath);
      progress.WrittenUpTo(unreported.front().second);
      unreported.pop_front();
    }
    return 0;
  }

  // Queues what the run holds for the disk; entries before `index` are
  // complete once it is written.
  int FlushRun(uint64_t index) {
    if (run->Empty()) {
      Completed(index);
      return 0;
    }
    uint64_t ticket = writer.Queue(run);
    writeOf[next] = ticket + 1;
    unreported.emplace_back(ticket, index);
    return NextBuffer();
  }

  int StageBlock(const TargetLocation& location, uint32_t k, uint64_t index) {
    uint64_t target = Target(location, k);
    if (!run->Continues(target)) {
      int result = FlushRun(index);
      if (result != 0) return result;
    }
    const uint8_t* block = nullptr;
    int result = NextBlock(block);
    if (result == 0) run->Append(block, target);
    return result;
  }

  bool InHeaderSector(uint64_t target) const {
    const uint64_t diskBytes = geometry.diskSectorCount * geometry.sectorSize;
    return target < 2ull * geometry.sectorSize ||
           target + geometry.blockSize > diskBytes - geometry.sectorSize;
  }

  bool HoldsTableHeader(const BlockDataEntry& entry, uint32_t k) const {
    for (const TargetLocation& location : entry.locations)
      if (InHeaderSector(Target(location, k))) return true;
    return false;
  }

  bool OverlapsHeld(const BlockDataEntry& entry, uint32_t k) const {
    for (const HeldBlock& block : held)
      for (uint64_t target : block.targets)
        for (const TargetLocation& location : entry.locations) {
          const uint64_t other = Target(location, k);
          if (other < target + geometry.blockSize && target < other + geometry.blockSize)
            return true;
        }
    return false;
  }

  // Takes the block in its turn and keeps it for the end.
  int HoldBlock(const BlockDataEntry& entry, uint32_t k, uint64_t index) {
    int result = held.size() >= kMaxHeldBlocks ? WriteHeld(index) : FlushRun(index);
    if (result != 0) return result;
    HeldBlock block{std::make_unique<BlockRun>(geometry.blockSize, 1), {}};
    if (!block.data->Allocated()) return FailWithError(ERROR_NOT_ENOUGH_MEMORY);
    for (const TargetLocation& location : entry.locations)
      block.targets.push_back(Target(location, k));
    const uint8_t* data = nullptr;
    if ((result = NextBlock(data)) != 0) return result;
    block.data->Append(data, block.targets.front());
    held.push_back(std::move(block));
    return 0;
  }

  // Writes what is queued, then the held blocks in the order they were read.
  int WriteHeld(uint64_t index) {
    int result = FlushRun(index);
    if (result == 0) result = Settle(UINT64_MAX);
    for (HeldBlock& block : held) {
      if (result != 0) break;
      result = block.data->WriteBlockTo(diskHandle, block.targets.data(), block.targets.size(),
                                        diskPath);
    }
    held.clear();
    return result;
  }

  // Written here, after the queued runs, so that writes keep table order.
  int CopyBlock(const BlockDataEntry& entry, uint32_t k, uint64_t index) {
    int result = FlushRun(index);
    if (result == 0) result = Settle(UINT64_MAX);
    if (result != 0) return result;
    std::vector<uint64_t> targets;
    for (const TargetLocation& location : entry.locations) targets.push_back(Target(location, k));
    const uint8_t* block = nullptr;
    if ((result = NextBlock(block)) != 0) return result;
    run->Append(block, 0);
    return run->WriteBlockTo(diskHandle, targets.data(), targets.size(), diskPath);
  }

  const CopyGeometry& geometry;
  std::vector<std::unique_ptr<BlockRun>> runs;
  std::vector<uint64_t> writeOf;  // per buffer: ticket + 1 of its last queued write
  size_t next = 0;
  BlockRun* run;  // the buffer being filled, runs[next]
  HANDLE diskHandle;
  const wchar_t* imagePath;
  const wchar_t* diskPath;  // what a failed write names: the disk's file is what is short
  Progress& progress;
  // The blocks held back for the end, each with its places on the disk.
  struct HeldBlock {
    std::unique_ptr<BlockRun> data;
    std::vector<uint64_t> targets;
  };
  std::vector<HeldBlock> held;
  BlockStream blocks;
  // Declared after the buffers, so that it has stopped writing them before
  // they are released.
  RunWriter writer;
  // Queued writes not yet waited for: their ticket and the entries complete
  // once they are written.
  std::deque<std::pair<uint64_t, uint64_t>> unreported;
};
}  // namespace

int CheckTable(const StoreReader& reader, uint64_t diskSectorCount) {
  CopyGeometry geometry{reader.BlockSize(), reader.Store().sectorSize,
                        diskSectorCount};
  if (geometry.blockSize > kMaxBlockSize)
    return PrintErrorLine(L"The store's block size of %u bytes is too large.\n",
                          geometry.blockSize);
  return CheckTargets(reader, geometry);
}

int CheckPayload(const StoreReader& reader, uint64_t diskSectorCount) {
  int result = CheckTable(reader, diskSectorCount);
  if (result != 0) return result;
  const FfuImage& image = *reader.Image();
  const wchar_t* imagePath = reader.Store().imagePath.c_str();
  uint64_t start = reader.PayloadOffset();
  uint64_t available = image.FileSize() > start ? image.FileSize() - start : 0;
  uint64_t payloadBytes = 0;
  if (__builtin_mul_overflow(reader.PayloadBlocks(), uint64_t{reader.BlockSize()}, &payloadBytes) ||
      payloadBytes > available)
    return FailWithError(ERROR_HANDLE_EOF, imagePath);
  return 0;
}

int CopyPayload(StoreReader& reader, HANDLE diskHandle, uint64_t diskSectorCount,
                const wchar_t* diskPath) {
  CopyGeometry geometry{reader.BlockSize(), reader.Store().sectorSize, diskSectorCount};

  StatusLine status;
  status.ShowPercent(L"Creating virtual disk", 0, true);
  uint64_t entryCount = reader.Entries().size();
  Progress progress(status, entryCount);
  PayloadWriter writer(*reader.Image(), reader, geometry, diskHandle, diskPath, progress);
  if (!writer.Ready()) return FailWithError(ERROR_NOT_ENOUGH_MEMORY);
  for (uint64_t i = 0; i < entryCount; ++i) {
    if (Interrupted()) return FailInterrupted();
    int result = writer.CopyEntry(reader.Entries()[i], i);
    if (result != 0) return result;
  }
  int result = writer.Finish(entryCount);
  if (result != 0) return result;
  // Through the disk's own cache too: the payload is on the disk to stay
  // before it is called written, and before volumes are set up to read it.
  if (!FlushFileBuffers(diskHandle)) return FailWithError(0, diskPath);
  status.Rewrite(L"Creating virtual disk ... ok   \n");
  return 0;
}

int FillDisk(FfuImage& image, StoreReader& reader, HANDLE disk, const wchar_t* diskPath) {
  uint64_t sectorCount = DiskSectorCount(reader.Store());
  image.ChunkCheck().PrintPlan();
  if (CopyPayload(reader, disk, sectorCount, diskPath) != 0) return 1;
  if (UpdateDiskProperties(disk) != 0) return 1;
  // Partitions are named by the layout that the refresh made current.
  if (FinishImageCheck(image, reader, disk, sectorCount) != 0) return 1;
  return 0;
}
