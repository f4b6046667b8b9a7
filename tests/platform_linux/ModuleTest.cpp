// Module file name (module.cpp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cwchar>
#include <string>

#include "linux/support/runtime/text.h"
#include "platform.h"

namespace {
TEST(ModuleTest, OwnPathIsCutToFitLikeTheSystem) {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  ASSERT_GT(length, 1u);
  EXPECT_EQ(length, wcslen(path));
  char real[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", real, sizeof real - 1), 0);
  EXPECT_EQ(ToUtf8(path), real);

  wchar_t small[4];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(small), std::wstring(path, 3));
}
}  // namespace
