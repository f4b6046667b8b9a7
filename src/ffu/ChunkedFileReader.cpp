#include "ffu/ChunkedFileReader.h"

#include <algorithm>
#include <cstring>

#include "common/FileRange.h"
#include "common/ProgramLines.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
// The largest window: reads this large keep a file read in order at the
// disk's speed, and every hash thread gets chunks of it.
constexpr uint64_t kWindowBytes = 4u << 20;
}  // namespace

ChunkedFileReader::ChunkedFileReader(const FfuImage& image) : file(image.File()) {
  const ChunkVerifier& check = image.ChunkCheck();
  fileSize = image.FileSize();
  if (check.GetPlan() != ChunkVerifier::kChecking) return;
  const SecurityHeader& header = image.GetSecurityHeader();
  if (windowCheck.Start(header.hashAlgorithmId, header.chunkSizeKb, image.GetHashTable(),
                        check.RegionStart(), fileSize) != ChunkVerifier::kChecking ||
      !BCRYPT_SUCCESS(hash.Open()))
    return;
  table = image.GetHashTable().data();
  regionStart = check.RegionStart();
  chunkSize = check.ChunkSize();
  mostChunks = static_cast<uint32_t>(std::max<uint64_t>(1, kWindowBytes / chunkSize));
  states.assign(check.ChunkCount(), kUnread);
  checking = true;
}

ChunkedFileReader::~ChunkedFileReader() = default;

uint64_t ChunkedFileReader::ChunkEnd(uint32_t index) const {
  return std::min(ChunkStart(index) + chunkSize, fileSize);
}

DWORD ChunkedFileReader::Read(uint64_t offset, uint8_t* buffer, uint64_t length) {
  if (!checking || length == 0) return ReadFileRange(file, offset, buffer, length);
  // Bytes in front of the checked region (the security headers) have no hash.
  if (offset < regionStart) {
    uint64_t piece = std::min(length, regionStart - offset);
    DWORD error = ReadFileRange(file, offset, buffer, piece);
    if (error != 0) return error;
    offset += piece;
    buffer += piece;
    length -= piece;
  }
  while (length > 0) {
    uint64_t index = (offset - regionStart) / chunkSize;
    if (index >= states.size()) return ERROR_HANDLE_EOF;
    uint64_t piece = std::min(length, ChunkEnd(static_cast<uint32_t>(index)) - offset);
    DWORD error = ReadChunkPart(static_cast<uint32_t>(index), offset, buffer, piece);
    if (error != 0) return error;
    offset += piece;
    buffer += piece;
    length -= piece;
  }
  return 0;
}

DWORD ChunkedFileReader::ReadChunkPart(uint32_t index, uint64_t offset, uint8_t* buffer,
                                       uint64_t length) {
  if (states[index] == kUnread) {
    DWORD error = LoadWindow(index);
    if (error != 0) return error;
  }
  if (states[index] == kBadUnsaid) {
    states[index] = kBad;
    damaged.push_back(index);
    PrintWarningLine(L"Chunk %u of the image does not match its hash; what lies in it is not "
                     L"read.\n",
                     index);
  }
  if (states[index] == kBad) return ERROR_CRC;
  if (!InWindow(index)) return ReadFileRange(file, offset, buffer, length);
  std::memcpy(buffer, window.data() + (offset - ChunkStart(windowFirst)), length);
  return 0;
}

// A window that goes on where the last one ended grows to twice its length;
// any other starts with one chunk. It ends before a chunk already checked.
uint32_t ChunkedFileReader::WindowChunks(uint32_t index) {
  uint32_t wanted = 1;
  if (windowCount > 0 && index == windowFirst + windowCount)
    wanted = std::min(mostChunks, windowCount * 2);
  return UncheckedRun(index, wanted);
}

// Returns: how many chunks from `index` on, up to `most`, are unchecked.
uint32_t ChunkedFileReader::UncheckedRun(uint32_t index, uint32_t most) const {
  uint32_t count = 0;
  while (count < most && index + count < states.size() && states[index + count] == kUnread)
    ++count;
  return count;
}

// Reads the unchecked chunks from `index` on whole and hashes them; the
// windows read ahead are taken first, up to the one that holds `index`.
DWORD ChunkedFileReader::LoadWindow(uint32_t index) {
  PreparePool();
  TakeAhead(index);
  if (states[index] != kUnread) return 0;
  const uint32_t count = WindowChunks(index);
  windowCount = 0;
  DWORD error = ReadChunks(index, count, window);
  if (error != 0) return error;
  windowFirst = index;
  windowCount = count;
  const uint32_t before = windowCheck.DamagedCount();
  PostWindow(windowFirst, window, count, false);
  pool->WaitAll();
  FinishWindow(before);
  ReadAhead();
  return 0;
}

// Returns: 0, or the Win32 code of a failed read.
DWORD ChunkedFileReader::ReadChunks(uint32_t first, uint32_t count, std::vector<uint8_t>& bytes) {
  const uint64_t start = ChunkStart(first);
  bytes.resize(ChunkEnd(first + count - 1) - start);
  return ReadFileRange(file, start, bytes.data(), bytes.size());
}

// A process made as a copy of ours (the view going to the background) has
// none of the pool's threads: it makes a pool of its own, and the copy of the
// old one, whose threads it cannot stop, is left alone, with any window read
// ahead into it.
void ChunkedFileReader::PreparePool() {
  if (pool != nullptr && poolProcess != GetCurrentProcessId()) {
    (void)pool.release();
    aheadCount = 0;
  }
  if (pool == nullptr) {
    // Slots for a window's ranges and those of the windows ahead.
    pool = std::make_unique<ChunkHashPool>(&windowCheck,
                                           (kAheadWindows + 1) * ChunkHashPool::ThreadsWanted(),
                                           ChunkHashPool::kIdleUnlessAwaited);
    poolProcess = GetCurrentProcessId();
  }
}

// The chunks are split among the pool's threads, which read them first
// where `read` is set.
// Returns: the ticket of the window's last range.
uint64_t ChunkedFileReader::PostWindow(uint32_t first, std::vector<uint8_t>& bytes, uint32_t count,
                                       bool read) {
  windowCheck.ResumeAt(first);
  const uint32_t threads = std::max<uint32_t>(1, pool->Threads());
  const uint32_t share = (count + threads - 1) / threads;
  uint64_t ticket = 0;
  for (uint32_t part = 0; part < count; part += share) {
    const uint32_t last = std::min(count, part + share) - 1;
    const uint64_t from = ChunkStart(first + part) - ChunkStart(first);
    const uint64_t to = ChunkEnd(first + last) - ChunkStart(first);
    const uint64_t offset = ChunkStart(first) + from;
    ticket = read ? pool->PostRead(file, offset, bytes.data() + from, to - from)
                  : pool->Post(offset, bytes.data() + from, to - from);
  }
  return ticket;
}

// Only where the pool found damage (or could not hash) is each chunk of the
// window hashed again on its own, to know which.
void ChunkedFileReader::FinishWindow(uint32_t damagedBefore) {
  if (windowCheck.Checking() && windowCheck.DamagedCount() == damagedBefore) {
    std::fill_n(states.begin() + windowFirst, windowCount, kGood);
    return;
  }
  SortOutDamage(windowCount);
}

// After a window of the largest size, the unchecked chunks that follow it and
// the windows already read ahead, up to kAheadWindows windows, read and
// hashed by the pool.
void ChunkedFileReader::ReadAhead() {
  if (windowCount < mostChunks) return;
  // Windows read ahead of another run of reads are dropped once hashed: a
  // run that went elsewhere is not followed any further.
  if (aheadCount > 0 && aheads[aheadStart].first != windowFirst + windowCount) {
    pool->WaitAll();
    aheadCount = 0;
  }
  while (aheadCount < kAheadWindows) {
    const Ahead* last = aheadCount > 0 ? &aheads[(aheadStart + aheadCount - 1) % kAheadWindows]
                                       : nullptr;
    const uint32_t next = last != nullptr ? last->first + last->count : windowFirst + windowCount;
    const uint32_t count = UncheckedRun(next, mostChunks);
    if (count == 0) return;
    Ahead& ahead = aheads[(aheadStart + aheadCount) % kAheadWindows];
    ahead.bytes.resize(ChunkEnd(next + count - 1) - ChunkStart(next));
    ahead.first = next;
    ahead.count = count;
    ahead.damagedBefore = windowCheck.DamagedCount();
    ahead.failuresBefore = pool->ReadFailures();
    ahead.lastTicket = PostWindow(next, ahead.bytes, count, true);
    ++aheadCount;
  }
}

bool ChunkedFileReader::AheadHolds(uint32_t index) const {
  for (uint32_t i = 0; i < aheadCount; ++i) {
    const Ahead& ahead = aheads[(aheadStart + i) % kAheadWindows];
    if (index >= ahead.first && index - ahead.first < ahead.count) return true;
  }
  return false;
}

// Takes the windows read ahead up to the one that holds `index`; where none
// does, they stay for the reads that may come back to them. Called after
// PreparePool, so that they were posted to this process's pool.
void ChunkedFileReader::TakeAhead(uint32_t index) {
  while (states[index] == kUnread && AheadHolds(index)) TakeFirstAhead();
}

// Waits for the first window read ahead, makes it the last window read, and
// reads on ahead. Damage found by the pool after the window was posted
// (in it, or in a window posted while it was hashed) makes its chunks be
// hashed one by one. Where a read of the pool failed meanwhile, the window
// is dropped: the reads that want its chunks read them again, and report
// what fails.
void ChunkedFileReader::TakeFirstAhead() {
  Ahead& ahead = aheads[aheadStart];
  aheadStart = (aheadStart + 1) % kAheadWindows;
  --aheadCount;
  pool->WaitFor(ahead.lastTicket);
  if (pool->ReadFailures() != ahead.failuresBefore) return;
  window.swap(ahead.bytes);
  windowFirst = ahead.first;
  windowCount = ahead.count;
  FinishWindow(ahead.damagedBefore);
  ReadAhead();
}

void ChunkedFileReader::SortOutDamage(uint32_t count) {
  for (uint32_t i = windowFirst; i < windowFirst + count; ++i) {
    const uint8_t* bytes = window.data() + (ChunkStart(i) - ChunkStart(windowFirst));
    uint8_t digest[kSha256Length];
    NTSTATUS status = hash.Add(bytes, ChunkEnd(i) - ChunkStart(i));
    if (BCRYPT_SUCCESS(status)) status = hash.Finish(digest);
    const bool matches =
        BCRYPT_SUCCESS(status) &&
        std::memcmp(digest, table + static_cast<uint64_t>(i) * kSha256Length, kSha256Length) == 0;
    states[i] = matches ? kGood : kBadUnsaid;
  }
}
