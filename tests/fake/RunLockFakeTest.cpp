// The run lock when another user's elevated run made the mutex: creating it
// with every right is denied, so the run opens it to wait on it only.
#include <string>

#include "FakeSystem.h"
#include "app/RunLock.h"

extern "C" HANDLE __real_CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR);

namespace {
constexpr wchar_t kName[] = L"Local\\Brackwen.FakeRunLock";

class RunLockFake : public FakeSystemTest {};

TEST_F(RunLockFake, AMutexThatCannotBeOpenedWithEveryRightIsOpenedToWaitOn) {
  for (bool opens : {true, false}) {
    DWORD asked = 0;
    Fake().createMutex = [](LPCWSTR) -> HANDLE {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    };
    Fake().openMutex = [&](DWORD access, LPCWSTR) -> HANDLE {
      asked = access;
      if (opens) return __real_CreateMutexW(nullptr, FALSE, kName);
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    };
    int result;
    {
      RunLock lock;
      result = lock.Acquire(1000, kName);
      EXPECT_EQ(lock.Held(), opens);
    }
    EXPECT_EQ(asked, static_cast<DWORD>(SYNCHRONIZE));
    const std::string output = Output();
    if (opens) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(output, "");
    } else {
      EXPECT_EQ(result, static_cast<int>(ERROR_ACCESS_DENIED));
      EXPECT_EQ(output,
                "(Korvex) !ERROR! Unable to make sure that no other mount runs at the same time.\n"
                "!ERROR! Access is denied.\r\n\n");
    }
    SetUp();
  }
}
}  // namespace
