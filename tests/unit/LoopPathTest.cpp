// Which paths name loop devices.
#include <gtest/gtest.h>

#include "linux/support/kernel/loop_device.h"

namespace {

struct LoopPathCase {
  const char* path;
  int number;
};

class LoopPathTest : public ::testing::TestWithParam<LoopPathCase> {};

TEST_P(LoopPathTest, NamesOnlyLoopDevices) {
  EXPECT_EQ(LoopNumberOfPath(GetParam().path), GetParam().number) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Paths, LoopPathTest,
                         ::testing::Values(LoopPathCase{"/dev/loop0", 0},
                                           LoopPathCase{"/dev/loop12", 12},
                                           LoopPathCase{"/dev/loop", -1},
                                           LoopPathCase{"/dev/loop-control", -1},
                                           LoopPathCase{"/dev/loop3p1", -1},
                                           LoopPathCase{"/dev/sda", -1},
                                           LoopPathCase{"/tmp/dev/loop1", -1},
                                           LoopPathCase{"/dev/loop99999999", -1}));

}  // namespace
