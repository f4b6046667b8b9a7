#include "app/RunLock.h"

#include "common/Failure.h"
#include "common/Interruption.h"
#include "common/ProgramLines.h"
#include "platform.h"

const wchar_t kRunMutexName[] = L"Global\\Brackwen.Mount";

namespace {
// The wait for another run is cut into slices, so that an interruption ends
// it soon.
constexpr DWORD kWaitSliceMs = 200;

bool Acquired(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

// Waits up to `waitMs` in slices; WAIT_TIMEOUT also when interrupted.
DWORD WaitInSlices(HANDLE mutex, DWORD waitMs) {
  for (DWORD waited = 0;; waited += kWaitSliceMs) {
    if (Interrupted()) return WAIT_TIMEOUT;
    DWORD slice = waitMs - waited < kWaitSliceMs ? waitMs - waited : kWaitSliceMs;
    DWORD wait = WaitForSingleObject(mutex, slice);
    if (wait != WAIT_TIMEOUT || waited + slice >= waitMs) return wait;
  }
}

// The mutex of this name. One that an elevated run made cannot be opened
// with every right by a run without elevation ("Access is denied"); waiting
// on it needs only the right to synchronize, which is asked for then.
// Returns: the mutex, or nullptr with `error` set.
HANDLE OpenRunMutex(const wchar_t* name, DWORD& error) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) error = GetLastError();
  if (mutex != nullptr || error != ERROR_ACCESS_DENIED) return mutex;
  return OpenMutexW(SYNCHRONIZE, FALSE, name);
}

// The lock could not be made or waited for: the line, then the system's reason.
int FailToLock(DWORD error) {
  PrintErrorLine(L"Unable to make sure that no other mount runs at the same time.\n");
  return FailWithError(error);
}
}  // namespace

RunLock::~RunLock() {
  if (held) ReleaseMutex(mutex.Get());
}

int RunLock::Acquire(DWORD waitMs, const wchar_t* name) {
  if (held) return 0;
  DWORD error = 0;
  mutex.Reset(OpenRunMutex(name, error));
  if (!mutex.Valid()) return FailToLock(error);
  DWORD wait = WaitForSingleObject(mutex.Get(), 0);
  error = wait == WAIT_FAILED ? GetLastError() : 0;
  if (wait == WAIT_TIMEOUT) {
    PrintProgramLine(L"Another mount is running; waiting for it to finish ...\n");
    wait = WaitInSlices(mutex.Get(), waitMs);
    error = wait == WAIT_FAILED ? GetLastError() : 0;
  }
  held = Acquired(wait);
  if (held) return 0;
  if (Interrupted()) return FailInterrupted();
  if (wait == WAIT_TIMEOUT)
    return PrintErrorLine(
        L"Another mount was still running after %u seconds; "
        L"try again when it has finished.\n",
        static_cast<unsigned>(waitMs / 1000));
  return FailToLock(error);
}
