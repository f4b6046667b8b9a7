#include "app/RunLock.h"

#include "common/Failure.h"
#include "platform.h"

const wchar_t kRunMutexName[] = L"Global\\Brackwen.Mount";

namespace {
bool Acquired(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

// The lock could not be made or waited for: the line, then the system's reason.
int FailToLock() {
  PrintWide(L"(Korvex) !ERROR! Unable to make sure that no other mount runs at the same time.\n");
  return FailWithError(0);
}
}  // namespace

RunLock::~RunLock() {
  if (held) ReleaseMutex(mutex.Get());
}

int RunLock::Acquire(DWORD waitMs, const wchar_t* name) {
  if (held) return 0;
  mutex.Reset(CreateMutexW(nullptr, FALSE, name));
  if (!mutex.Valid()) return FailToLock();
  DWORD wait = WaitForSingleObject(mutex.Get(), 0);
  if (wait == WAIT_TIMEOUT) {
    PrintWide(L"(Korvex) Another mount is running; waiting for it to finish ...\n");
    wait = WaitForSingleObject(mutex.Get(), waitMs);
  }
  held = Acquired(wait);
  if (held) return 0;
  if (wait == WAIT_TIMEOUT)
    return FailWithLine(
        L"(Korvex) !ERROR! Another mount was still running after %u seconds; "
        L"try again when it has finished.\n",
        static_cast<unsigned>(waitMs / 1000));
  return FailToLock();
}
