// CRC-32C (support/formats/crc32c.cpp).
#include <gtest/gtest.h>

#include <string>

#include "formats/Crc32c.h"

namespace {
TEST(Crc32c, MatchesThePublishedCheckValues) {
  struct Case {
    std::string bytes;
    uint32_t crc;
  } cases[] = {{"123456789", 0xE3069283u},
               {std::string(32, '\0'), 0x8A9136AAu},
               {std::string(32, '\xFF'), 0x62A8AB43u},
               {"", 0u}};
  for (const Case& c : cases) {
    EXPECT_EQ(Crc32c(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.crc)
        << testing::PrintToString(c.bytes);
  }
}
}  // namespace
