#include <gtest/gtest.h>

#include <cstring>

#include "compression/WofReparse.h"

namespace {
TEST(WofReparse, ReadsKnownPointsAndRefusesEverythingElse) {
  struct Case {
    uint32_t words[6];
    size_t size;
    WofResult result;
    uint32_t chunkSize;
  } cases[] = {
      {{0x80000017, 16, 1, 2, 1, 0}, 24, kWofOk, 4096},
      {{0x80000017, 16, 1, 2, 1, 1}, 24, kWofOk, 32768},
      {{0x80000017, 16, 1, 2, 1, 2}, 24, kWofOk, 8192},
      {{0x80000017, 16, 1, 2, 1, 3}, 24, kWofOk, 16384},
      {{0x80000017, 16, 1, 2, 1, 4}, 24, kWofUnknownAlgorithm, 0},
      {{0x80000017, 16, 1, 1, 1, 0}, 24, kWofUnknownProvider, 0},  // backed by a WIM
      {{0x80000017, 16, 2, 2, 1, 0}, 24, kWofUnknownVersion, 0},
      {{0x80000017, 16, 1, 2, 2, 0}, 24, kWofUnknownVersion, 0},
      {{0xA000000C, 16, 1, 2, 1, 0}, 24, kWofNotWof, 0},  // a symbolic link
      {{0x80000017, 12, 1, 2, 1, 0}, 20, kWofBadReparseData, 0},
      {{0x80000017, 16, 1, 2, 1, 0}, 20, kWofBadReparseData, 0},  // cut short
      {{0x80000017, 16, 1, 2, 1, 0}, 6, kWofBadReparseData, 0},
  };
  for (const Case& c : cases) {
    uint8_t bytes[24];
    std::memcpy(bytes, c.words, sizeof(bytes));
    WofInfo info;
    EXPECT_EQ(ParseWofReparsePoint(bytes, c.size, info), c.result) << c.words[5];
    if (c.result == kWofOk) {
      EXPECT_EQ(info.chunkSize, c.chunkSize);
      EXPECT_EQ(static_cast<uint32_t>(info.algorithm), c.words[5]);
      EXPECT_EQ(ParseWofReparseData(bytes + 8, 16, info), kWofOk);
    } else {
      EXPECT_NE(std::wcslen(WofResultText(c.result)), 0u);
    }
  }
}
}  // namespace
