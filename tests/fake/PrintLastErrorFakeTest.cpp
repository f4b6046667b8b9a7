// Prints and status lines keep the caller's last error. Output goes to a file
// here, so the console calls fail and set error 6 as they do on Windows under
// "> log.txt"; the line reported after the print must still name the caller's
// error.
#include <functional>

#include "FakeSystem.h"
#include "common/ReportWin32Error.h"
#include "common/StatusLine.h"
#include "platform.h"

namespace {

struct PrintCase {
  const char* name;
  std::function<void()> print;
  const char* printed;
  bool asksConsoleMode;  // false: asks for the screen buffer instead
};

class PrintsKeepTheLastError : public FakeSystemTest,
                               public ::testing::WithParamInterface<PrintCase> {};

TEST_P(PrintsKeepTheLastError, TheLineAfterThePrintReportsTheCallersError) {
  SetLastError(ERROR_NOT_READY);
  GetParam().print();
  EXPECT_EQ(Fake().consoleQueries > 0, GetParam().asksConsoleMode);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(ReportWin32Error(0), static_cast<uint32_t>(ERROR_NOT_READY));
  EXPECT_EQ(Output(), std::string(GetParam().printed) + "!ERROR! The device is not ready.\r\n\n");
}

INSTANTIATE_TEST_SUITE_P(
    Prints, PrintsKeepTheLastError,
    ::testing::Values(
        PrintCase{"wide", [] { PrintWide(L"(Korvex) !WARNING! %s.\n", L"Unable"); },
                  "(Korvex) !WARNING! Unable.\n", true},
        PrintCase{"narrow", [] { PrintNarrow("failed to open vdisk...err %d\n", 2); },
                  "failed to open vdisk...err 2\n", true},
        PrintCase{"plain_text", [] { PrintWideText(L"100%\n"); }, "100%\n", true},
        PrintCase{"status_line_begin", [] { StatusLine().Begin(L"Copying ... 0%\n"); }, "",
                  false},
        PrintCase{"status_line_rewrite",
                  [] {
                    StatusLine status;
                    status.Begin(L"Copying ... 0%\n");
                    status.Rewrite(L"Copying ... 100%\n");
                  },
                  "", false}),
    [](const ::testing::TestParamInfo<PrintCase>& info) { return std::string(info.param.name); });

}  // namespace
