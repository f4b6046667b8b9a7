// COM on the Linux build (com.cpp): GUID text.
#include <gtest/gtest.h>

#include <cwchar>

#include "platform.h"

namespace {
TEST(ComTest, GuidTextIsBracedUpperCase) {
  const GUID id = {0xAE420040, 0x13DD, 0x41F2, {0xAE, 0x7F, 0x0D, 0xC3, 0x58, 0x54, 0xC8, 0xD7}};
  wchar_t* text = nullptr;
  ASSERT_EQ(StringFromCLSID(id, &text), 0);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, L"{AE420040-13DD-41F2-AE7F-0DC35854C8D7}");
  EXPECT_EQ(wcslen(text), 38u);
  CoTaskMemFree(text);
}
}  // namespace
