#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/UniqueHandle.h"
#include "vdisk/BlockRun.h"
#include "win32.h"

// Writes gathered runs to the disk on a thread of its own, in the order they
// are queued, so that the copy reads the next runs from the image while the
// disk takes the last ones. Runs are queued and waited for from one thread;
// a queued run must stay untouched until WaitFor its ticket returns. After a
// failed write the later runs are not written. Without its thread (none
// could be made) each run is written as it is queued.
class RunWriter {
 public:
  // `slots`: writes queued and not yet waited for, at most (at least 1).
  RunWriter(HANDLE disk, uint32_t slots);
  // Lets the queued writes finish, then stops the thread.
  ~RunWriter();
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;

  // Queues the write of what `run` holds; the run is empty once written.
  // Waits first for the write queued `slots` writes before, if it is not done.
  // Returns: the ticket to wait for.
  uint64_t Queue(BlockRun* run);
  // Waits until the write of `ticket` and every write before it are done.
  // Returns: 0, or the Win32 code of the first of them that failed.
  DWORD WaitFor(uint64_t ticket);
 private:
  static DWORD WINAPI Run(LPVOID self);
  void Work();
  void WriteNext();

  HANDLE disk;
  uint32_t slotCount;
  std::unique_ptr<BlockRun*[]> slots;
  std::atomic<uint64_t> queued{0};
  std::atomic<uint64_t> written{0};
  // The first failed write: its ticket (none: UINT64_MAX) and its code.
  std::atomic<uint64_t> failedTicket{UINT64_MAX};
  DWORD failure = 0;
  std::atomic<bool> stopping{false};
  UniqueHandle work;  // set when a run is queued or the writer stops
  UniqueHandle done;  // set when a run has been written
  UniqueHandle thread;
};
