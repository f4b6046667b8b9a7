// Environment variables (environment.cpp).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "win32.h"

namespace {
TEST(Environment, VariablesAreReadAsWideText) {
  ASSERT_EQ(setenv("BRACKWEN_UNIT_VARIABLE", "wert \xc3\xa4", 1), 0);
  wchar_t buffer[16] = {};
  EXPECT_EQ(GetEnvironmentVariableW(L"BRACKWEN_UNIT_VARIABLE", buffer, 16), 6u);
  EXPECT_EQ(std::wstring(buffer), L"wert \u00e4");
  // Too small a buffer: the size needed, terminator included.
  EXPECT_EQ(GetEnvironmentVariableW(L"BRACKWEN_UNIT_VARIABLE", buffer, 6), 7u);
  unsetenv("BRACKWEN_UNIT_VARIABLE");
  EXPECT_EQ(GetEnvironmentVariableW(L"BRACKWEN_UNIT_VARIABLE", buffer, 16), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}
}  // namespace
