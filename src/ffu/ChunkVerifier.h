#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Sha256Hash.h"
#include "ffu/FfuLayout.h"

// Checks an image against its own hash table. The table holds one hash per
// chunk of the part of the file that follows the security region, from the
// image header to the end of the file, in file order. The reader, the store
// reader and the payload copy feed every byte of that part once, in file
// order, as they read it; each chunk is compared when its last byte arrives.
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

  // Decides whether the image can be checked and opens the hash when it can.
  // `table` stays owned by the caller and must outlive the check.
  // Returns: kChecking when the check goes ahead; any other plan says why
  // nothing is checked, and PrintPlan prints it.
  Plan Start(uint32_t algorithmId, uint32_t chunkSizeKb, const std::vector<uint8_t>& table,
             uint64_t regionStart, uint64_t fileSize);
  Plan GetPlan() const { return plan; }
  // Returns: true while the check goes ahead and nothing has broken it.
  bool Checking() const { return plan == kChecking && !broken; }
  // Prints the one warning line of a plan under which nothing is checked.
  void PrintPlan() const;

  // `length` bytes of the file that start at `offset`. A range that does not
  // follow the one before ends the check (it is reported by PrintOutcome).
  void Feed(uint64_t offset, const uint8_t* data, size_t length);
  // Offset of the next byte the check expects.
  uint64_t Position() const { return position; }
  // Compares the last chunk once the file's last byte was fed.
  void Finish();
  // After Finish: the lines of a check that could not be completed.
  void PrintBroken() const;

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
  void CompareChunk();
  void Fail(NTSTATUS status);

  Plan plan = kNotStarted;
  Sha256Hash hash;
  const uint8_t* table = nullptr;
  uint64_t tableSize = 0;
  uint32_t algorithmId = 0;
  uint64_t regionStart = 0;
  uint64_t fileSize = 0;
  uint64_t chunkSize = 0;
  uint32_t chunkCount = 0;
  uint64_t position = 0;
  uint64_t inChunk = 0;  // bytes of the current chunk fed so far
  uint32_t chunk = 0;    // index of the current chunk
  bool broken = false;
  bool outOfOrder = false;
  NTSTATUS failure = 0;
  uint32_t damagedCount = 0;
  std::vector<uint32_t> firstDamaged;
};
