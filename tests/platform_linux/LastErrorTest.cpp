// The thread's last error (last_error.cpp).
#include <gtest/gtest.h>

#include <thread>

#include "platform.h"

namespace {
TEST(LastErrorTest, LastErrorIsPerThread) {
  SetLastError(5);
  DWORD seenInThread = 99;
  std::thread other([&seenInThread] {
    seenInThread = GetLastError();
    SetLastError(87);
  });
  other.join();
  EXPECT_EQ(seenInThread, 0u);
  EXPECT_EQ(GetLastError(), 5u);
}
}  // namespace
