// Printing and bounded formatting of wide text (print.cpp).
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "StdoutCapture.h"
#include "common/FormatWide.h"
#include "platform.h"

namespace {
std::wstring Format(const wchar_t* format, ...) {
  wchar_t buffer[256];
  va_list arguments;
  va_start(arguments, format);
  const int result = VFormatWideBounded(buffer, 256, format, arguments);
  va_end(arguments);
  EXPECT_GE(result, 0);
  EXPECT_EQ(static_cast<size_t>(result), wcslen(buffer));
  return buffer;
}

TEST(FormatTest, Conversions) {
  EXPECT_EQ(Format(L"Loading %s image ... ok\n", L".FFU"), L"Loading .FFU image ... ok\n");
  EXPECT_EQ(Format(L"%d|%d|%d", 0, -73, 2147483647), L"0|-73|2147483647");
  EXPECT_EQ(Format(L"%d", static_cast<int>(0x80000000u)), L"-2147483648");
  EXPECT_EQ(Format(L"%u|%u", 0u, 4294967295u), L"0|4294967295");
  EXPECT_EQ(Format(L"%x|%X|%08X", 0xC03A0015u, 0xabcu, 0x1fu), L"c03a0015|ABC|0000001F");
  EXPECT_EQ(Format(L"100%% done"), L"100% done");
  EXPECT_EQ(Format(L"%5d|%-5d|%05d", 42, 42, -42), L"   42|42   |-0042");
  EXPECT_EQ(Format(L"[%6s][%-6s][%.2s]", L"ab", L"ab", L"abcdef"), L"[    ab][ab    ][ab]");
  EXPECT_EQ(Format(L"%llu|%I64d|%lu", 10000000000ull, -5ll, 7u), L"10000000000|-5|7");
  EXPECT_EQ(Format(L"%hs and %S", "narrow", "also"), L"narrow and also");
  EXPECT_EQ(Format(L"%c%c", L'o', L'k'), L"ok");
  EXPECT_EQ(Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
  EXPECT_EQ(Format(L"trailing %"), L"trailing %");
  EXPECT_EQ(Format(L"%q stays"), L"%q stays");
  EXPECT_EQ(Format(L"%*d|%-*d|", 4, 7, 3, 7), L"   7|7  |");
}

TEST(FormatTest, PercentInStringArgumentIsPrintedUnchanged) {
  EXPECT_EQ(Format(L"!ERROR! %s\"%s\"\n", L"text ", L"C:/a%sb%d%%/x.ffu"),
            L"!ERROR! text \"C:/a%sb%d%%/x.ffu\"\n");
}

struct BoundCase {
  size_t count;
  int expectedResult;
  const wchar_t* expectedText;
};

// "abcdef" needs 7 characters with its terminator.
TEST(FormatTest, NeverWritesPastCountAndReportsCut) {
  const BoundCase cases[] = {
      {8, 6, L"abcdef"}, {7, 6, L"abcdef"}, {6, -1, L"abcde"},
      {2, -1, L"a"},     {1, -1, L""},
  };
  for (const BoundCase& test : cases) {
    wchar_t buffer[16];
    wmemset(buffer, L'#', 16);
    const int result = FormatWide(buffer, test.count, L"%s%s", L"abc", L"def");
    EXPECT_EQ(result, test.expectedResult) << "count " << test.count;
    EXPECT_STREQ(buffer, test.expectedText) << "count " << test.count;
    for (size_t i = test.count; i < 16; ++i)
      EXPECT_EQ(buffer[i], L'#') << "written past count " << test.count << " at " << i;
  }
}

TEST(FormatTest, ZeroCountWritesNothing) {
  wchar_t buffer[2] = {L'#', L'#'};
  EXPECT_EQ(FormatWide(buffer, 0, L"x"), -1);
  EXPECT_EQ(buffer[0], L'#');
}

TEST(FormatTest, LongArgumentIsCutAtTheBuffer) {
  const std::wstring longPath(2000, L'p');
  wchar_t buffer[520];
  wchar_t guard = L'#';
  wchar_t* end = buffer + 519;
  *end = guard;
  EXPECT_EQ(FormatWide(buffer, 519, L"!ERROR! %s\n", longPath.c_str()), -1);
  EXPECT_EQ(wcslen(buffer), 518u);
  EXPECT_EQ(*end, L'#');
}

TEST(FormatTest, HugeWidthIsBounded) {
  wchar_t buffer[32];
  EXPECT_EQ(FormatWide(buffer, 32, L"%999999999d", 1), -1);
  EXPECT_EQ(wcslen(buffer), 31u);
}
TEST(PrintTest, PrintsReturnCharacterCountsAsUtf8) {
  StdoutCapture capture;
  const int wide = PrintWide(L"(Korvex) !ERROR! VHD files not yet supported.\n");
  const int withText = PrintWide(L"%s \u00e9%d\n", L"M\u00fcnchen", -7);
  const int narrow = PrintNarrow("%s %d %x %u %%\n", "diag", -1, 255u, 3u);
  const int plain = PrintWideText(L"50% %s\n");
  const std::string output = capture.Finish();
  EXPECT_EQ(wide, 46);
  EXPECT_EQ(withText, 12);
  EXPECT_EQ(narrow, 15);
  EXPECT_EQ(plain, 7);
  EXPECT_EQ(output,
            "(Korvex) !ERROR! VHD files not yet supported.\n"
            "M\xc3\xbcnchen \xc3\xa9-7\n"
            "diag -1 ff 3 %\n"
            "50% %s\n");
}

}  // namespace
