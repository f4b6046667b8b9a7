#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/Sha256Hash.h"
#include "ffu/ChunkHashPool.h"
#include "ffu/ChunkVerifier.h"
#include "win32.h"

class FfuImage;

// Reads the image file with every chunk checked against the hash table the
// first time a read touches it. A chunk that matched is remembered and read
// straight from the file afterwards; a chunk that does not match fails every
// read that touches it, and its bytes are never handed out. Unchecked chunks
// are read in windows that grow while reads go on in order (up to 4 MiB),
// hashed on the hash pool's threads, and the last window stays in memory, so
// small reads in order read the file once. Once windows have grown to their
// largest, the pool's threads read and hash the next two while the reads of
// this one are served, so that the disk and the processors stay busy. Without a usable
// hash table (see ChunkVerifier's plans) reads are not checked. One thread at
// a time.
class ChunkedFileReader {
 public:
  explicit ChunkedFileReader(const FfuImage& image);
  ~ChunkedFileReader();
  ChunkedFileReader(const ChunkedFileReader&) = delete;
  ChunkedFileReader& operator=(const ChunkedFileReader&) = delete;

  // Returns: true when reads are checked against the hash table.
  bool Checking() const { return checking; }
  // Reads `length` bytes of the file at `offset`.
  // Returns: 0; ERROR_CRC when a chunk the range touches does not match its
  // hash; the Win32 code of a failed read (ERROR_HANDLE_EOF when the file
  // ends first).
  DWORD Read(uint64_t offset, uint8_t* buffer, uint64_t length);
  // Returns: the damaged chunks found so far, in the order found.
  const std::vector<uint32_t>& Damaged() const { return damaged; }

 private:
  // kBadUnsaid: found damaged in a window, not yet met by a read.
  enum ChunkState : uint8_t { kUnread, kGood, kBad, kBadUnsaid };
  DWORD ReadChunkPart(uint32_t index, uint64_t offset, uint8_t* buffer, uint64_t length);
  DWORD LoadWindow(uint32_t index);
  uint32_t WindowChunks(uint32_t index);
  uint32_t UncheckedRun(uint32_t index, uint32_t most) const;
  DWORD ReadChunks(uint32_t first, uint32_t count, std::vector<uint8_t>& bytes);
  void PreparePool();
  uint64_t PostWindow(uint32_t first, std::vector<uint8_t>& bytes, uint32_t count, bool read);
  void FinishWindow(uint32_t damagedBefore);
  void ReadAhead();
  void TakeAhead(uint32_t index);
  void TakeFirstAhead();
  bool AheadHolds(uint32_t index) const;
  void SortOutDamage(uint32_t count);
  bool InWindow(uint32_t index) const {
    return index >= windowFirst && index - windowFirst < windowCount;
  }
  uint64_t ChunkStart(uint32_t index) const { return regionStart + index * chunkSize; }
  uint64_t ChunkEnd(uint32_t index) const;

  HANDLE file;
  const uint8_t* table = nullptr;
  uint64_t regionStart = 0;
  uint64_t chunkSize = 0;
  uint64_t fileSize = 0;
  bool checking = false;
  std::vector<uint8_t> states;
  std::vector<uint32_t> damaged;
  // The chunks last read whole: `windowCount` of them from `windowFirst`.
  std::vector<uint8_t> window;
  uint32_t windowFirst = 0;
  uint32_t windowCount = 0;
  uint32_t mostChunks = 1;  // the largest window, in chunks
  // The windows after it, read and posted to the pool but not yet taken, in
  // file order from `aheadStart` (a ring of `aheadCount`); their chunks are
  // still kUnread.
  struct Ahead {
    std::vector<uint8_t> bytes;
    uint32_t first = 0;
    uint32_t count = 0;
    uint64_t lastTicket = 0;      // the pool's ticket of its last range
    uint32_t damagedBefore = 0;   // the check's damage count when posted
    uint64_t failuresBefore = 0;  // the pool's failed reads when posted
  };
  static constexpr uint32_t kAheadWindows = 2;
  Ahead aheads[kAheadWindows];
  uint32_t aheadStart = 0;
  uint32_t aheadCount = 0;
  Sha256Hash hash;  // a window's chunks one by one, where one is damaged
  // A check of our own, so that reads do not disturb the running check of
  // the image's load; its pool hashes the windows.
  ChunkVerifier windowCheck;
  std::unique_ptr<ChunkHashPool> pool;
  DWORD poolProcess = 0;  // the process whose threads the pool has
};
