// The error line with the system's text for a Win32 code.
#include <gtest/gtest.h>

#include <string>

#include "StdoutCapture.h"
#include "common/ReportWin32Error.h"
#include "platform.h"

namespace {
TEST(ReportWin32ErrorTest, ReportLineCarriesTextAndQuotedPath) {
  StdoutCapture capture;
  const uint32_t result = ReportWin32Error(2, L"/no/such%s%d.ffu");
  const std::string output = capture.Finish();
  EXPECT_EQ(result, 2u);
  EXPECT_EQ(output, "!ERROR! The system cannot find the file specified.\r\n\"/no/such%s%d.ffu\"\n");
}

TEST(ReportWin32ErrorTest, ReportWithZeroTakesTheLastError) {
  StdoutCapture capture;
  SetLastError(ERROR_SHARING_VIOLATION);
  const uint32_t result = ReportWin32Error(0);
  const std::string output = capture.Finish();
  EXPECT_EQ(result, 32u);
  EXPECT_EQ(output,
            "!ERROR! The process cannot access the file because it is being used by another "
            "process.\r\n\n");
}
}  // namespace
