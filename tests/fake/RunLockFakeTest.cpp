// A run without elevation meets an elevated run's mutex: creating it with
// every right is denied, so the run opens it to wait on it only.
#include "FakeSystem.h"
#include "app/RunLock.h"

extern "C" HANDLE __real_CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR);

namespace {
class RunLockFake : public FakeSystemTest {};

TEST_F(RunLockFake, AMutexDeniedWithEveryRightIsOpenedToWaitOn) {
  DWORD asked = 0;
  Fake().createMutex = [](LPCWSTR) -> HANDLE { return SetLastError(ERROR_ACCESS_DENIED), nullptr; };
  Fake().openMutex = [&](DWORD access, LPCWSTR name) {
    asked = access;
    return __real_CreateMutexW(nullptr, FALSE, name);
  };
  RunLock lock;
  EXPECT_EQ(lock.Acquire(1000, L"Local\\Brackwen.FakeRunLock"), 0);
  EXPECT_TRUE(lock.Held());
  EXPECT_EQ(asked, static_cast<DWORD>(SYNCHRONIZE));
}
}  // namespace
