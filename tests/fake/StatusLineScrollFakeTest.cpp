// Status lines on a console whose buffer is its window, as under a
// terminal's pseudo console, with the cursor on its last row: every line
// feed there scrolls the buffer up under the saved positions.
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "common/StatusLine.h"

namespace {

class ScrollingConsole : public FakeSystemTest {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    Fake().console = true;
    Fake().screen.rows.assign(6, L"");
    // Earlier output fills the screen up to its last row.
    for (int i = 0; i < 5; ++i) Print(L"line " + std::to_wstring(i) + L"\n");
  }
  static void Print(const std::wstring& text) {
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), text.c_str(), static_cast<DWORD>(text.size()),
                  &written, nullptr);
  }
  static std::vector<std::wstring> Rows() { return Fake().screen.rows; }
};

TEST_F(ScrollingConsole, StartsOnItsLastRow) {
  EXPECT_EQ(Fake().screen.cursor.Y, 5);
  EXPECT_EQ(Fake().screen.cursor.X, 0);
}

TEST_F(ScrollingConsole, ProgressIsRewrittenInPlaceWhileTheBufferScrolls) {
  StatusLine progress;
  progress.Begin(L"Copying ... 0%\n");
  for (int percent = 1; percent <= 100; ++percent)
    progress.Rewrite((L"Copying ... " + std::to_wstring(percent) + L"%\n").c_str());
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"line 1", L"line 2", L"line 3", L"line 4",
                                               L"Copying ... 100%", L""}));
  EXPECT_EQ(Fake().screen.cursor.Y, 5) << "the cursor goes back below the line";
}

// Lines printed between the start and the rewrite scroll the buffer too; the
// rewrite still lands on the status line and leaves those lines as they are.
TEST_F(ScrollingConsole, LinesPrintedInBetweenStayAndTheStatusLineIsFoundAgain) {
  StatusLine mounting;
  mounting.Begin(L"Mounting ... processing\n");
  Print(L"warning one\n");
  Print(L"warning two\n");
  mounting.Rewrite(L"Mounting ... ok        \n");
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"line 3", L"line 4", L"Mounting ... ok        ",
                                               L"warning one", L"warning two", L""}));
  EXPECT_EQ(Fake().screen.cursor.Y, 5);
}

// A status line that scrolled out of the buffer cannot be rewritten in
// place; its new text goes on a line of its own, over no other line.
TEST_F(ScrollingConsole, ALineScrolledAwayIsWrittenAgainBelow) {
  StatusLine loading;
  loading.Begin(L"Loading ... processing\n");
  for (int i = 0; i < 8; ++i) Print(L"output " + std::to_wstring(i) + L"\n");
  loading.Rewrite(L"Loading ... ok        \n");
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"output 4", L"output 5", L"output 6", L"output 7",
                                               L"Loading ... ok        ", L""}));
}

}  // namespace
