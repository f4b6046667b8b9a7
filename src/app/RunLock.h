#pragma once

#include "common/UniqueHandle.h"
#include "win32.h"

// Name of the mutex that one mounting run holds from before it opens the
// image until it ends. In the global namespace: disks and their sweep are the whole
// machine's, so runs in other logon sessions must wait as well.
extern const wchar_t kRunMutexName[];
// How long a run waits for another one before it gives up: long enough for
// the copy of a large image.
inline constexpr DWORD kRunWaitMs = 5 * 60 * 1000;

// One run at a time: a second run waits for the first to finish its mount
// instead of sweeping the first run's disk away in the middle of its copy.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock, waiting up to `waitMs` with a line that says so when
  // another run holds it. A lock left by a run that ended without letting
  // go counts as taken.
  // Returns: 0 on success (also when already held); the character count of
  // the failure line when the wait ran out; otherwise the Win32 error code,
  // after printing why.
  int Acquire(DWORD waitMs = kRunWaitMs, const wchar_t* name = kRunMutexName);

 private:
  UniqueHandle mutex;
  bool held = false;
};
