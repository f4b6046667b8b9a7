// The option parser: what each command line asks for, and the lines that
// cannot be run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct LineCase {
  std::vector<const wchar_t*> arguments;
  int result;
  RunMode mode;
  std::wstring image;
  std::wstring output;
  std::wstring partition;
  std::wstring fault;  // the start of the fault line
};

class Parse : public ::testing::TestWithParam<LineCase> {};

TEST_P(Parse, ReadsModeOperandsAndFaults) {
  const LineCase& c = GetParam();
  std::vector<const wchar_t*> arguments = c.arguments;
  arguments.push_back(nullptr);
  CommandLine line;
  ASSERT_EQ(ParseCommandLine(arguments.data(), line), c.result);
  if (c.result != 0) {
    EXPECT_EQ(line.fault.rfind(L"(Korvex) !ERROR! " + c.fault, 0), 0u) << line.fault;
    return;
  }
  EXPECT_EQ(line.mode, c.mode);
  EXPECT_EQ(line.imagePath, c.image);
  EXPECT_EQ(line.outputPath, c.output);
  EXPECT_EQ(line.partitionName, c.partition);
}

const RunMode M = RunMode::kMount;
INSTANTIATE_TEST_SUITE_P(
    Cases, Parse,
    ::testing::Values(
        // The image alone, as always: later arguments are ignored, options too.
        LineCase{{L"a.ffu"}, 0, M, L"a.ffu", L"", L"", L""},
        LineCase{{L"a.ffu", L"--list", L"b"}, 0, M, L"a.ffu", L"", L"", L""},
        LineCase{{L""}, 0, M, L"", L"", L"", L""},
        LineCase{{L"-x.ffu"}, 0, M, L"-x.ffu", L"", L"", L""},
        LineCase{{L"--", L"--odd.ffu"}, 0, M, L"--odd.ffu", L"", L"", L""},
        LineCase{{L"--partition", L"EFIESP", L"a.ffu"}, 0, M, L"a.ffu", L"", L"EFIESP", L""},
        LineCase{{L"--partition", L"--list", L"a.ffu"}, 0, M, L"a.ffu", L"", L"--list", L""},
        LineCase{{L"--list", L"a.ffu"}, 0, RunMode::kList, L"a.ffu", L"", L"", L""},
        LineCase{{L"--partition", L"Data", L"--extract", L"a.ffu", L"d.img"}, 0,
                 RunMode::kExtract, L"a.ffu", L"d.img", L"Data", L""},
        LineCase{{L"--detach"}, 0, RunMode::kDetach, L"", L"", L"", L""},
        LineCase{{L"--help", L"a.ffu"}, 0, RunMode::kHelp, L"a.ffu", L"", L"", L""},
        // Lines that cannot be run.
        LineCase{{L"--lsit", L"a.ffu"}, 1, M, L"", L"", L"", L"Unknown option : '--lsit'"},
        LineCase{{L"--\x1b[2J\x202e", L"a.ffu"}, 1, M, L"", L"", L"", L"Unknown option : '--?[2J?'"},
        LineCase{{L"--List", L"a.ffu"}, 1, M, L"", L"", L"", L"Unknown option"},
        LineCase{{L"--list"}, 1, M, L"", L"", L"", L"The option --list needs an image"},
        LineCase{{L"--check"}, 1, M, L"", L"", L"", L"The option --check needs an image"},
        LineCase{{L"--extract", L"a.ffu"}, 1, M, L"", L"", L"", L"The option --extract needs"},
        LineCase{{L"--extract", L"a.ffu", L""}, 1, M, L"", L"", L"", L"The option --extract"},
        LineCase{{L"--partition"}, 1, M, L"", L"", L"", L"The option --partition needs a"},
        LineCase{{L"--partition", L"", L"a.ffu"}, 1, M, L"", L"", L"", L"The option --partition"},
        LineCase{{L"--partition", L"Data"}, 1, M, L"", L"", L"", L"The option --partition needs"},
        LineCase{{L"--partition", L"A", L"--partition", L"B", L"a.ffu"}, 1, M, L"", L"", L"",
                 L"The option --partition is given twice"},
        LineCase{{L"--list", L"--check", L"a.ffu"}, 1, M, L"", L"", L"", L"The options --list"},
        LineCase{{L"--list", L"--list", L"a.ffu"}, 1, M, L"", L"", L"", L"The options --list"},
        LineCase{{L"--partition", L"A", L"--check", L"a.ffu"}, 1, M, L"", L"", L"",
                 L"The options --check and --partition"},
        LineCase{{L"--detach", L"a.ffu"}, 1, M, L"", L"", L"", L"The option --detach takes no"},
        // With an option, an argument left over is a fault.
        LineCase{{L"--check", L"a.ffu", L"x"}, 1, M, L"", L"", L"", L"Unexpected argument : 'x'"},
        LineCase{{L"--extract", L"a.ffu", L"a.img", L"x"}, 1, M, L"", L"", L"", L"Unexpected"},
        LineCase{{L"--partition", L"D", L"a.ffu", L"x"}, 1, M, L"", L"", L"", L"Unexpected"},
        LineCase{{L"--"}, 1, M, L"", L"", L"", L"No image file"}));

}  // namespace
