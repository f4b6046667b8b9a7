// Named mutexes of the Linux layer: lock files (in the temporary folder, or
// root's machine-wide folder for global names) that exclude other holders, across processes too, and tell a waiter when the
// last holder ended without letting go.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "TempFolder.h"
#include "linux/support/runtime/text.h"
#include "platform.h"

namespace {
constexpr wchar_t kName[] = L"Local\\Brackwen.UnitTest";

class NamedMutex : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TMPDIR");
    if (old != nullptr) oldTmpdir = old;
    setenv("TMPDIR", folder.path.c_str(), 1);
    wchar_t temp[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    lockFile = ToUtf8(std::wstring(temp, length)) + "Brackwen.UnitTest.lock";
  }
  void TearDown() override {
    if (oldTmpdir.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", oldTmpdir.c_str(), 1);
  }
  bool LockFileExists() const { return access(lockFile.c_str(), F_OK) == 0; }

  TempFolder folder;
  std::string oldTmpdir;
  std::string lockFile;
};

TEST_F(NamedMutex, ASecondHolderWaitsUntilTheFirstReleases) {
  HANDLE first = CreateMutexW(nullptr, FALSE, kName);
  HANDLE second = CreateMutexW(nullptr, FALSE, kName);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(LockFileExists());
  EXPECT_EQ(WaitForSingleObject(second, 50), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_FALSE(LockFileExists()) << "a released mutex leaves no file";
  EXPECT_EQ(WaitForSingleObject(second, 50), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 50), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(second));
  CloseHandle(first);
  CloseHandle(second);
  EXPECT_FALSE(LockFileExists());
}

TEST_F(NamedMutex, IsRecursiveForItsHolderAndOnlyItsHolderReleasesIt) {
  HANDLE holder = CreateMutexW(nullptr, FALSE, kName);
  HANDLE other = CreateMutexW(nullptr, FALSE, kName);
  EXPECT_EQ(WaitForSingleObject(holder, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(holder, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(ReleaseMutex(other));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  EXPECT_TRUE(ReleaseMutex(holder));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT) << "still held once";
  EXPECT_TRUE(ReleaseMutex(holder));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(other));
  CloseHandle(holder);
  CloseHandle(other);
}

// A process that takes the mutex and ends without releasing it, as a run
// killed mid-way does: the next waiter gets it, marked abandoned, once.
TEST_F(NamedMutex, AHolderThatDiesLeavesItAbandoned) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kName);
    _exit(mutex != nullptr && WaitForSingleObject(mutex, 0) == WAIT_OBJECT_0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kName);
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "abandoned only once";
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST_F(NamedMutex, AWaiterOnAFileThatTheHolderRemovedTakesTheNewOne) {
  HANDLE first = CreateMutexW(nullptr, FALSE, kName);
  HANDLE second = CreateMutexW(nullptr, FALSE, kName);  // opened the file now held
  ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ReleaseMutex(first));  // removes that file
  ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);  // a new file
  EXPECT_EQ(WaitForSingleObject(second, 50), WAIT_TIMEOUT)
      << "the lock on the removed file must not count";
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_EQ(WaitForSingleObject(second, 50), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(second));
  CloseHandle(first);
  CloseHandle(second);
}

// Root's global names hold across temporary folders, in a lock file that no
// other user can open (flock takes a file opened for reading too).
TEST_F(NamedMutex, ARootGlobalNameHoldsAcrossTemporaryFoldersAndOnlyRootOpensIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::wstring name = L"Global\\Brackwen.UnitTest." + std::to_wstring(getpid());
  HANDLE first = CreateMutexW(nullptr, FALSE, name.c_str());
  ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  TempFolder other;
  setenv("TMPDIR", other.path.c_str(), 1);
  HANDLE second = CreateMutexW(nullptr, FALSE, name.c_str());
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  const std::string file = ToUtf8(L"/run/brackwen/" + name.substr(7) + L".lock");
  if (fork() == 0) _exit(setuid(65534) == 0 && open(file.c_str(), O_RDONLY) < 0 ? 0 : 1);
  int status = 0;
  wait(&status);
  EXPECT_EQ(status, 0) << "another user opened " << file;
  EXPECT_TRUE(ReleaseMutex(first) && CloseHandle(first) && CloseHandle(second));
}

struct BadMutexCase {
  const char* name;
  const wchar_t* mutexName;
  BOOL initialOwner;
  DWORD error;
};

class BadMutex : public NamedMutex, public testing::WithParamInterface<BadMutexCase> {};

TEST_P(BadMutex, IsRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateMutexW(nullptr, GetParam().initialOwner, GetParam().mutexName), nullptr);
  EXPECT_EQ(GetLastError(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadMutex,
    testing::Values(BadMutexCase{"unnamed", nullptr, FALSE, ERROR_NOT_SUPPORTED},
                    BadMutexCase{"owned_on_creation", kName, TRUE, ERROR_NOT_SUPPORTED},
                    BadMutexCase{"empty", L"Global\\", FALSE, ERROR_INVALID_NAME},
                    BadMutexCase{"slash", L"Local\\a/b", FALSE, ERROR_INVALID_NAME},
                    BadMutexCase{"parent", L"..", FALSE, ERROR_INVALID_NAME}),
    [](const testing::TestParamInfo<BadMutexCase>& info) { return std::string(info.param.name); });
}  // namespace

// The run's lock over that mutex: it says that it waits, and gives up with
// a clear line when the other run holds on past the bound.
#include "StdoutCapture.h"
#include "app/RunLock.h"

namespace {
TEST_F(NamedMutex, ARunWaitsForTheHolderAndGivesUpAfterTheBound) {
  HANDLE other = CreateMutexW(nullptr, FALSE, kName);
  ASSERT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
  StdoutCapture capture;
  int result;
  {
    RunLock lock;
    result = lock.Acquire(2000, kName);
  }
  EXPECT_NE(result, 0);
  EXPECT_EQ(capture.Finish(),
            "(Korvex) Another mount is running; waiting for it to finish ...\n"
            "(Korvex) !ERROR! Another mount was still running after 2 seconds; try again when "
            "it has finished.\n");
  EXPECT_TRUE(ReleaseMutex(other));
  CloseHandle(other);
}

TEST_F(NamedMutex, ARunTakesAFreeOrAbandonedLockSilentlyAndLetsItGoAtItsEnd) {
  for (bool abandoned : {false, true}) {
    if (abandoned) {
      HANDLE left = CreateMutexW(nullptr, FALSE, kName);
      ASSERT_EQ(WaitForSingleObject(left, 0), WAIT_OBJECT_0);
      CloseHandle(left);  // ends without releasing
    }
    StdoutCapture capture;
    {
      RunLock lock;
      EXPECT_EQ(lock.Acquire(1000, kName), 0);
      HANDLE other = CreateMutexW(nullptr, FALSE, kName);
      EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);
      CloseHandle(other);
    }
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_FALSE(LockFileExists()) << (abandoned ? "after an abandoned holder" : "free");
  }
}
}  // namespace
