// The Linux layer's threads, events and waits (threads.cpp).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>

#include "win32.h"

namespace {

struct EventCase {
  const char* name;
  BOOL manualReset;
  BOOL initialState;
  bool set;
  DWORD firstWait;
  DWORD secondWait;
};
void PrintTo(const EventCase& c, std::ostream* out) { *out << c.name; }

class Events : public testing::TestWithParam<EventCase> {};

// Waits of 0 ms look at the state without blocking.
TEST_P(Events, KeepOrDropTheirSignalAsAsked) {
  const EventCase& c = GetParam();
  HANDLE event = CreateEventW(nullptr, c.manualReset, c.initialState, nullptr);
  ASSERT_NE(event, nullptr);
  if (c.set) {
    EXPECT_TRUE(SetEvent(event));
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), c.firstWait);
  EXPECT_EQ(WaitForSingleObject(event, 0), c.secondWait);
  EXPECT_TRUE(CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Events,
    testing::Values(EventCase{"unsignaled", FALSE, FALSE, false, WAIT_TIMEOUT, WAIT_TIMEOUT},
                    EventCase{"auto-reset set", FALSE, FALSE, true, WAIT_OBJECT_0, WAIT_TIMEOUT},
                    EventCase{"auto-reset initially set", FALSE, TRUE, false, WAIT_OBJECT_0, WAIT_TIMEOUT},
                    EventCase{"manual-reset set", TRUE, FALSE, true, WAIT_OBJECT_0, WAIT_OBJECT_0}));

DWORD WINAPI CountUp(LPVOID parameter) {
  auto* counter = static_cast<std::atomic<int>*>(parameter);
  for (int i = 0; i < 1000; ++i) ++*counter;
  return 0;
}

TEST(Threads, AWaitReturnsOnceTheRoutineHasReturned) {
  std::atomic<int> counter{0};
  HANDLE thread = CreateThread(nullptr, 0, &CountUp, &counter, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(counter.load(), 1000);
  // A returned thread stays signaled.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
}

// Holds the thread until `release` is set, after saying which kernel thread it is.
struct HeldThread {
  std::atomic<pid_t> id{0};
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI WaitForRelease(LPVOID parameter) {
  auto* held = static_cast<HeldThread*>(parameter);
  held->id = gettid();
  WaitForSingleObject(held->release, INFINITE);
  return 0;
}

int NiceOfThread(pid_t id) {
  std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
  std::string line;
  std::getline(stat, line);
  // The fields after the name in parentheses; the nice value is the 19th field.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 19; ++i) fields >> field;
  return std::stoi(field);
}

// Root may lower a thread's priority and raise it again.
TEST(Threads, PrioritiesAreTheThreadsNiceValue) {
  if (geteuid() != 0) GTEST_SKIP() << "raising a priority again needs root";
  HeldThread held;
  HANDLE thread = CreateThread(nullptr, 0, &WaitForRelease, &held, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  while (held.id == 0) std::this_thread::yield();
  struct Case {
    int priority;
    int nice;
  } cases[] = {{THREAD_PRIORITY_BELOW_NORMAL, 5}, {THREAD_PRIORITY_IDLE, 19},
               {THREAD_PRIORITY_NORMAL, 0}};
  for (const Case& c : cases) {
    EXPECT_TRUE(SetThreadPriority(thread, c.priority)) << c.priority;
    EXPECT_EQ(NiceOfThread(held.id), c.nice) << c.priority;
  }
  EXPECT_EQ(NiceOfThread(getpid()), 0) << "the calling thread keeps its own";
  EXPECT_FALSE(SetThreadPriority(thread, 3));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetEvent(held.release);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE)) << "a returned thread";
  CloseHandle(thread);
  CloseHandle(held.release);
}

// Without CAP_SYS_NICE and with RLIMIT_NICE at 0 a lowered thread could not
// be raised again: lowering is refused, or a pool lowered while its caller
// works would stay at idle for good.
TEST(Threads, PriorityIsLoweredOnlyWhereItCanBeRaisedAgain) {
  pid_t child = fork();
  if (child == 0) {
    struct rlimit none {};
    bool dropped = setrlimit(RLIMIT_NICE, &none) == 0 &&
                   (geteuid() != 0 || setresuid(65534, 65534, 65534) == 0);
    HeldThread held;
    HANDLE thread = CreateThread(nullptr, 0, &WaitForRelease, &held, 0, nullptr);
    while (thread != nullptr && held.id == 0) std::this_thread::yield();
    _exit(dropped && !SetThreadPriority(thread, THREAD_PRIORITY_IDLE) &&
                  GetLastError() == ERROR_PRIVILEGE_NOT_HELD && NiceOfThread(held.id) == 0
              ? 0
              : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
}

TEST(Threads, SuspendedThreadsAndNamedEventsAreRefused) {
  std::atomic<int> counter{0};
  EXPECT_EQ(CreateThread(nullptr, 0, &CountUp, &counter, 0x4 /* suspended */, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, L"Global\\Brackwen"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(Threads, WaitingOnAnythingElseFails) {
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE file = CreateFileW(L"/proc/self/status", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WaitForSingleObject(file, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(file));
  CloseHandle(file);
}

}  // namespace
