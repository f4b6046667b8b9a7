// Conversions between UTF-8 and wide text (support/runtime/text.cpp).
#include <gtest/gtest.h>

#include <string>

#include "linux/support/runtime/text.h"

namespace {
TEST(TextTest, Utf8RoundTripsAndKeepsInvalidBytes) {
  const std::wstring wide = L"Gr\u00fc\u00dfe \u6587 \U0001F600";
  EXPECT_EQ(ToUtf8(wide), "Gr\xc3\xbc\xc3\x9f" "e \xe6\x96\x87 \xf0\x9f\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(wide)), wide);
  const std::string raw = "a\xff\xc3(b\xe6\x96";
  EXPECT_EQ(ToUtf8(FromUtf8(raw)), raw);
  EXPECT_EQ(FromUtf8(raw).size(), raw.size());
}
}  // namespace
