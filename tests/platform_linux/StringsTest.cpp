// Character conversions (strings.cpp).
#include <gtest/gtest.h>

#include "platform.h"

namespace {
TEST(StringsTest, CharUpperConvertsInPlace) {
  wchar_t extension[] = L".ffu";
  EXPECT_EQ(CharUpperW(extension), extension);
  EXPECT_STREQ(extension, L".FFU");
}
}  // namespace
