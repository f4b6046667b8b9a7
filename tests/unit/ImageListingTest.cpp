// The listing's sizes and the text it takes from the image.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/ImageListing.h"
#include "common/ProgramLines.h"

namespace {

struct SizeCase {
  uint64_t bytes;
  std::wstring text;
};

class Sizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(Sizes, ReadAtAGlance) { EXPECT_EQ(ReadableSize(GetParam().bytes), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Sizes,
    ::testing::Values(SizeCase{0, L"0 bytes"}, SizeCase{1023, L"1023 bytes"},
                      SizeCase{1024, L"1.0 KiB"}, SizeCase{1535, L"1.5 KiB"},
                      SizeCase{1048575, L"1.0 MiB"}, SizeCase{57654784, L"55.0 MiB"},
                      SizeCase{4294967296ull, L"4.0 GiB"}, SizeCase{UINT64_MAX, L"16.0 EiB"}));

TEST(PrintableText, KeepsTheImageFromSteeringTheTerminal) {
  const char text[] = "a\x1b[2J\r\n\x7f\xc3\xa9z";
  EXPECT_EQ(PrintableText(text, sizeof(text) - 1), L"a?[2J?????z");
}

}  // namespace
