// The run's lock over the named mutex: it says that it waits, and gives up
// with a clear line when the other run holds on past the bound.
#include <gtest/gtest.h>

#include "MutexFolderTest.h"
#include "StdoutCapture.h"
#include "app/RunLock.h"

namespace {
class RunLockTest : public MutexFolderTest {};

TEST_F(RunLockTest, ARunWaitsForTheHolderAndGivesUpAfterTheBound) {
  HANDLE other = CreateMutexW(nullptr, FALSE, kTestMutexName);
  ASSERT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
  StdoutCapture capture;
  int result;
  {
    RunLock lock;
    result = lock.Acquire(2000, kTestMutexName);
  }
  EXPECT_NE(result, 0);
  EXPECT_EQ(capture.Finish(),
            "(Korvex) Another mount is running; waiting for it to finish ...\n"
            "(Korvex) !ERROR! Another mount was still running after 2 seconds; try again when "
            "it has finished.\n");
  EXPECT_TRUE(ReleaseMutex(other));
  CloseHandle(other);
}

TEST_F(RunLockTest, ARunTakesAFreeOrAbandonedLockSilentlyAndLetsItGoAtItsEnd) {
  for (bool abandoned : {false, true}) {
    if (abandoned) {
      HANDLE left = CreateMutexW(nullptr, FALSE, kTestMutexName);
      ASSERT_EQ(WaitForSingleObject(left, 0), WAIT_OBJECT_0);
      CloseHandle(left);  // ends without releasing
    }
    StdoutCapture capture;
    {
      RunLock lock;
      EXPECT_EQ(lock.Acquire(1000, kTestMutexName), 0);
      HANDLE other = CreateMutexW(nullptr, FALSE, kTestMutexName);
      EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);
      CloseHandle(other);
    }
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_FALSE(LockFileExists()) << (abandoned ? "after an abandoned holder" : "free");
  }
}
}  // namespace
