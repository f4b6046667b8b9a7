// Character conversions (strings.cpp).
#include <gtest/gtest.h>

#include <string>

#include "platform.h"

namespace {
TEST(StringsTest, CharUpperConvertsInPlace) {
  wchar_t extension[] = L".ffu";
  EXPECT_EQ(CharUpperW(extension), extension);
  EXPECT_STREQ(extension, L".FFU");
}
// UTF-8 as Windows converts it: what no valid text holds becomes U+FFFD, the
// size comes first with no room given, and too little room is error 122.
TEST(StringsTest, Utf8ConversionsReplaceWhatIsNotText) {
  const wchar_t wide[] = {L'a', 0xE9, 0xDC9B, 0x1F600, 0};
  const std::string utf8 = "a\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80";
  char bytes[16] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 11);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, 4, bytes, 16, nullptr, nullptr), 10);
  EXPECT_EQ(std::string(bytes, 10), utf8);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, 4, bytes, 9, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  wchar_t back[8] = {};
  const char malformed[] = "a\x9B\xC3";
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, malformed, 3, back, 8), 3);
  EXPECT_EQ(std::wstring(back, 3), std::wstring(L"a\xFFFD\xFFFD"));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "x", 0, back, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
}  // namespace
