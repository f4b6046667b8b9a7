#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/UniqueHandle.h"
#include "ffu/ChunkVerifier.h"
#include "win32.h"

// Hashes the ranges fed to an image check on a few helper threads, one per
// processor (at least two, at most four), while the caller reads and writes the next
// ranges. Ranges are posted in file order from one thread, which alone
// waits for them; a posted range must stay untouched until WaitFor its
// ticket returns. Chunks are independent, so the whole chunks of several
// ranges are hashed at once; only a chunk that spans two ranges is hashed
// in order, through the check's running hash. Without helper threads (none
// could be made) each range is hashed as it is posted. With no check
// running, posting does nothing.
class ChunkHashPool {
 public:
  // How the threads share the processors with the caller.
  enum Priority {
    kNormalPriority,  // as the caller
    // Idle priority, and normal while the caller waits for them: the caller
    // and the system's work for it come first (the copy's disk writes).
    kIdleUnlessAwaited,
  };
  // `slots`: ranges posted and not yet waited for, at most (at least 1).
  ChunkHashPool(ChunkVerifier* verifier, uint32_t slots, Priority priority = kNormalPriority);
  ~ChunkHashPool();
  ChunkHashPool(const ChunkHashPool&) = delete;
  ChunkHashPool& operator=(const ChunkHashPool&) = delete;

  // Queues `length` bytes that start at file offset `offset`; waits first
  // for the range posted `slots` ranges before, if it is not done.
  // Returns: the ticket to wait for before the bytes may change.
  uint64_t Post(uint64_t offset, const uint8_t* data, size_t length);
  // As Post, for bytes not read yet: the thread that takes the range first
  // reads them from `file` at `offset` into `data`, so that the disk reads
  // beside the caller too. A read that fails is counted in ReadFailures, and
  // what `data` then holds is hashed as it stands.
  uint64_t PostRead(HANDLE file, uint64_t offset, uint8_t* data, size_t length);
  // Returns: the reads of PostRead that failed so far.
  uint64_t ReadFailures() const { return readFailures.load(); }
  // Returns once the range of `ticket` and every range before it have been
  // hashed and their results taken into the check.
  void WaitFor(uint64_t ticket);
  void WaitAll();
  // Returns: the ranges posted so far.
  uint64_t Posted() const { return posted.load(); }
  // Returns: the helper threads hashing (0 when ranges are hashed as posted).
  uint32_t Threads() const { return threadCount; }

  // Returns: the helper threads a pool makes on this machine: one for each
  // processor the process may use, at least two and at most four.
  static uint32_t ThreadsWanted();

 private:
  struct Slot {
    ChunkVerifier::Range range;
    std::atomic<uint64_t> finished{0};  // ticket + 1 once hashed
    UniqueHandle turn;                  // set when this slot's range may use the running hash
    // Where PostRead's bytes are read from first, and into.
    HANDLE readFrom = nullptr;
    uint64_t readOffset = 0;
    uint8_t* readInto = nullptr;
    size_t readLength = 0;
  };
  struct Worker {
    ChunkHashPool* pool = nullptr;
    Sha256Hash hash;
    UniqueHandle thread;
  };
  static DWORD WINAPI Run(LPVOID worker);
  void Work(Sha256Hash& hash);
  void Hash(uint64_t ticket, Sha256Hash& hash);
  bool StartWorkers();
  void StopWorkers();
  void SetPriority(int priority);
  uint64_t Queue(uint64_t offset, uint8_t* data, size_t length, HANDLE readFrom);
  void ReadRange(Slot& slot);

  ChunkVerifier* verifier;
  uint32_t slotCount;
  Priority priority;
  std::unique_ptr<Slot[]> slots;
  std::unique_ptr<Worker[]> workers;
  uint32_t threadCount = 0;
  std::atomic<uint64_t> posted{0};
  std::atomic<uint64_t> claimed{0};
  std::atomic<uint64_t> runningTurn{0};  // the ticket whose open chunk goes next
  std::atomic<bool> stopping{false};
  std::atomic<uint64_t> readFailures{0};
  uint64_t collected = 0;  // ranges whose results the check has taken in
  UniqueHandle work;       // set when a range is posted or the pool stops
  UniqueHandle finished;   // set when a range has been hashed
};
