#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Sha256Hash.h"
#include "ffu/FfuLayout.h"

// Checks an image against its own hash table. The table holds one hash per
// chunk of the part of the file that follows the security region, from the
// image header to the end of the file, in file order. The reader, the store
// reader and the payload copy (or the check of the whole file) feed every
// byte of that part once, in file order, as they read it; each chunk is
// compared when its last byte arrives. Feeding and collecting happen on one
// thread; the hashing of a cut range may happen on others (ChunkHashPool).
class ChunkVerifier {
 public:
  enum Plan {
    kNotStarted,        // Start was not called: nothing is checked or said
    kChecking,          // the table fits the file and the algorithm is known
    kSwitchedOff,       // the benchmark's switch turned the check off
    kUnknownAlgorithm,  // the header names an algorithm we do not know
    kNoChunkSize,       // the chunk size is 0
    kWrongHashCount,    // the table does not hold one hash for each chunk
    kHashUnavailable,   // the system's SHA-256 could not be opened
  };

  // Decides whether the image can be checked and opens the hash when it can;
  // a check started again begins afresh at `regionStart`. `table` stays
  // owned by the caller and must outlive the check.
  // Returns: kChecking when the check goes ahead; any other plan says why
  // nothing is checked, and PrintPlan prints it.
  Plan Start(uint32_t algorithmId, uint32_t chunkSizeKb, const std::vector<uint8_t>& table,
             uint64_t regionStart, uint64_t fileSize);
  Plan GetPlan() const { return plan; }
  // Returns: true while the check goes ahead and nothing has broken it.
  bool Checking() const { return plan == kChecking && !broken; }
  // Prints the one warning line of a plan under which nothing is checked.
  void PrintPlan() const;

  // `length` bytes of the file that start at `offset`, hashed and compared
  // on the calling thread. A range that does not follow the one before ends
  // the check (PrintBroken reports it).
  void Feed(uint64_t offset, const uint8_t* data, size_t length);
  // Goes on at the start of chunk `index`, for a reader that checks chunks
  // out of file order; what a chunk left open held is dropped.
  void ResumeAt(uint32_t index);
  // Offset of the next byte the check expects.
  uint64_t Position() const { return position; }
  // Ends the check once the file's last byte was fed; the last chunk was
  // compared when that byte arrived.
  void Finish();
  // After Finish: the lines of a check that could not be completed.
  void PrintBroken() const;

  // One fed range cut at chunk ends, so that its whole chunks can be hashed
  // on any thread. A chunk that a range leaves open (its `tail`) is finished
  // by the `head` of the next one through one running hash, so the open
  // parts of consecutive ranges are hashed in feed order, one range after
  // the other; whole chunks in any order.
  struct Piece {
    const uint8_t* data = nullptr;
    size_t length = 0;
  };
  struct Range {
    Piece head;               // goes on with the chunk the range before left open
    bool headCloses = false;  // ... and is its end
    uint32_t headChunk = 0;
    Piece whole;              // whole chunks (the file's last one may be short)
    uint32_t firstWhole = 0;
    Piece tail;               // opens a chunk a later range finishes
    // What hashing the range found, for Collect.
    uint32_t damagedCount = 0;
    std::vector<uint32_t> damaged;  // the first kKeptDamaged, in file order
    NTSTATUS failure = 0;
  };
  // Cuts the next fed range; the range's bytes stay the caller's.
  // Returns: false when nothing is to be hashed: the check is off or broken,
  // or the range does not follow the one before (which ends the check).
  bool Cut(uint64_t offset, const uint8_t* data, size_t length, Range& range);
  // Hashes the range's head and tail with the running hash: one range at a
  // time, in the order the ranges were cut.
  void HashOpenChunk(Range& range);
  // Hashes the range's whole chunks with `scratch`, a hash of the caller's.
  void HashWholeChunks(Range& range, Sha256Hash& scratch) const;
  // Takes in what hashing a range found; ranges in the order they were cut.
  void Collect(const Range& range);

  uint64_t RegionStart() const { return regionStart; }
  uint64_t ChunkSize() const { return chunkSize; }
  // Returns: the chunks the table covers; 0 under every plan but kChecking
  // and kHashUnavailable.
  uint32_t ChunkCount() const { return chunkCount; }
  // Returns: the chunks whose hash differs from the table's, all of them
  // counted; FirstDamaged lists the first kKeptDamaged of them in file order.
  uint32_t DamagedCount() const { return damagedCount; }
  const std::vector<uint32_t>& FirstDamaged() const { return firstDamaged; }
  static constexpr size_t kKeptDamaged = 20;

  // Returns: the chunk count of a region, a last, shorter chunk counted as
  // one; 0 for a chunk size of 0.
  static uint64_t CountChunks(uint64_t regionLength, uint64_t chunkSize);

 private:
  // Returns: the offset one past the last byte of chunk `index`.
  uint64_t ChunkEnd(uint32_t index) const;
  // Compares a finished digest with the table's; the range keeps the result.
  void Compare(const uint8_t digest[kSha256Length], uint32_t index, Range& range) const;
  void Fail(NTSTATUS status);

  Plan plan = kNotStarted;
  Sha256Hash hash;     // the running hash of a chunk that spans ranges
  Sha256Hash scratch;  // whole chunks fed on the calling thread
  const uint8_t* table = nullptr;
  uint64_t tableSize = 0;
  uint32_t algorithmId = 0;
  uint64_t regionStart = 0;
  uint64_t fileSize = 0;
  uint64_t chunkSize = 0;
  uint32_t chunkCount = 0;
  // Where the cutting stands: the next byte expected, the chunk it belongs
  // to and whether that chunk was opened by an earlier range.
  uint64_t position = 0;
  uint32_t chunk = 0;
  bool chunkOpen = false;
  bool broken = false;
  bool outOfOrder = false;
  NTSTATUS failure = 0;
  uint32_t damagedCount = 0;
  std::vector<uint32_t> firstDamaged;
};
