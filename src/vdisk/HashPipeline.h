#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/UniqueHandle.h"
#include "win32.h"

class ChunkVerifier;

// Feeds payload ranges to the image check on a helper thread, in the order
// they were posted, while the copy reads and writes the next ones. A posted
// range must stay untouched until WaitFor its ticket returns. Without a
// helper thread (none could be made) each range is checked as it is posted.
// With no check running, posting does nothing. The helper thread runs at idle
// priority, so that it never delays the copy or the system's work for the
// disk, and at normal priority while the copy waits for it.
class HashPipeline {
 public:
  explicit HashPipeline(ChunkVerifier* verifier);
  ~HashPipeline();
  HashPipeline(const HashPipeline&) = delete;
  HashPipeline& operator=(const HashPipeline&) = delete;

  // Queues `length` bytes that start at file offset `offset`.
  // Returns: the ticket to wait for before the bytes may change.
  uint64_t Post(uint64_t offset, const uint8_t* data, size_t length);
  // Returns once the range of `ticket` (or every range) has been checked.
  void WaitFor(uint64_t ticket);
  void WaitAll();
  // Ranges posted so far.
  uint64_t Posted() const { return posted.load(); }

  // Ranges posted and not yet checked: never more than this.
  static constexpr uint64_t kSlots = 4;

 private:
  struct Range {
    uint64_t offset;
    const uint8_t* data;
    size_t length;
  };
  static DWORD WINAPI Run(LPVOID self);
  // True once the range of `ticket` has been checked (or was never posted).
  bool Checked(uint64_t ticket) const;
  void Drain();

  ChunkVerifier* verifier;
  Range ranges[kSlots] = {};
  std::atomic<uint64_t> posted{0};
  std::atomic<uint64_t> done{0};
  std::atomic<bool> stopping{false};
  UniqueHandle work;      // set when a range is posted or the pipeline stops
  UniqueHandle finished;  // set when a range has been checked
  UniqueHandle thread;
};
