// The console on a terminal and on redirected output (console.cpp), with the
// status line in a real terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConsoleScene.h"
#include "StdoutCapture.h"
#include "common/StatusLine.h"
#include "platform.h"

namespace {
constexpr const wchar_t* kProcessing = L"Loading .FFU image ... processing\n";
constexpr const wchar_t* kDone = L"Loading .FFU image ... ok         \n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A tmux server of the test's own, killed with everything in it on scope exit.
class TmuxServer {
 public:
  TmuxServer() : socket("/tmp/console-test-" + std::to_string(getpid()) + ".tmux") {}
  ~TmuxServer() {
    CommandOutput(Command("kill-server") + " 2>/dev/null", false);
    unlink(socket.c_str());
  }
  std::string Command(const std::string& arguments) const {
    return "tmux -S " + socket + " " + arguments;
  }

 private:
  std::string socket;
};

TEST(ConsoleTest, RedirectedOutputHasNoConsoleAndNoStatusLines) {
  StdoutCapture capture;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  SetLastError(0);
  const BOOL hasInfo = GetConsoleScreenBufferInfo(console, &info);
  const DWORD infoError = GetLastError();
  StatusLine line;
  line.Begin(kProcessing);
  PrintWide(L"printed\n");
  line.Rewrite(kDone);
  DWORD written = 7;
  const BOOL wrote = WriteConsoleW(console, L"x", 1, &written, nullptr);
  const std::string output = capture.Finish();
  EXPECT_NE(console, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(hasInfo);
  EXPECT_EQ(infoError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(wrote);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(output, "printed\n");
}

COORD CursorNow() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {-1, -1};
  return info.dwCursorPosition;
}

TEST(ConsoleTest, TerminalCursorFollowsTheOutputAndMovesRelatively) {
  // A pseudo terminal on fd 1: positions are tracked there.
  StdoutCapture terminal(StdoutCapture::Target::kTerminal);
  ASSERT_TRUE(terminal.IsOpen());
  PrintWide(L"\n");
  const COORD start = CursorNow();
  PrintWide(L"abc");
  const COORD afterText = CursorNow();
  PrintNarrow("\n%s\n", "x");
  const COORD afterLines = CursorNow();
  PrintWideText(std::wstring(45, L'w').c_str());  // wraps once at 40 columns
  const COORD afterWrap = CursorNow();
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  const BOOL moved = SetConsoleCursorPosition(console, {2, afterText.Y});
  const COORD afterMove = CursorNow();
  DWORD written = 0;
  const BOOL wrote = WriteConsoleW(console, L"Z\u00e9", 2, &written, nullptr);
  const COORD afterWrite = CursorNow();
  SetConsoleCursorPosition(console, afterWrap);
  const std::string output = terminal.Finish();

  EXPECT_EQ(afterText.X, 3);
  EXPECT_EQ(afterText.Y, start.Y);
  EXPECT_EQ(afterLines.X, 0);
  EXPECT_EQ(afterLines.Y, start.Y + 2);
  EXPECT_EQ(afterWrap.X, 5);
  EXPECT_EQ(afterWrap.Y, start.Y + 3);
  EXPECT_TRUE(moved);
  EXPECT_EQ(afterMove.X, 2);
  EXPECT_EQ(afterMove.Y, start.Y);
  EXPECT_TRUE(wrote);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(afterWrite.X, 4);
  EXPECT_NE(output.find("\x1b[3A\r\x1b[2C" "Z\xc3\xa9"), std::string::npos);
  EXPECT_NE(output.find("\x1b[3B\r\x1b[5C"), std::string::npos);
}

TEST(ConsoleTest, StatusLineIsRewrittenInPlaceInARealTerminal) {
  if (system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  char resultName[] = "/tmp/console-scene-XXXXXX";
  const int resultFile = mkstemp(resultName);
  ASSERT_GE(resultFile, 0);
  close(resultFile);
  unlink(resultName);
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);

  TmuxServer tmux;
  const std::string scene = std::string("env ") + kConsoleSceneVariable + "=" + resultName +
                            " '" + self + "'; sleep 60";
  ASSERT_EQ(system((tmux.Command("new-session -d -x 80 -y 24 \"" + scene + "\"")).c_str()), 0);
  // The scene writes its result file when it is done and tmux shows its
  // output shortly after; wait for both, bounded.
  std::string result;
  std::string pane;
  for (int attempt = 0; attempt < 200; ++attempt) {
    usleep(50000);
    if (result.empty()) {
      std::ifstream file(resultName);
      std::getline(file, result);
    }
    pane = CommandOutput(tmux.Command("capture-pane -p"), false);
    if (!result.empty() && pane.find("after") != std::string::npos) break;
  }
  unlink(resultName);
  ASSERT_EQ(result, "saved row 1, return row 5");

  const std::vector<std::string> lines = Lines(pane);
  ASSERT_GE(lines.size(), 6u) << pane;
  const std::vector<std::string> expected = {
      "scene", "Loading .FFU image ... ok", "first line", "second line", "third line", "after"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << pane;
  EXPECT_EQ(pane.find("processing"), std::string::npos) << pane;
}
}  // namespace

int RunConsoleScene(const char* resultPath) {
  PrintWide(L"scene\n");
  StatusLine line;
  line.Begin(kProcessing);
  PrintWide(L"first line\n");
  PrintNarrow("%s line\n", "second");
  PrintWideText(L"third line\n");
  line.Rewrite(kDone);
  PrintWide(L"after\n");
  std::ofstream result(resultPath);
  result << "saved row " << line.savedPosition.Y << ", return row " << line.returnPosition.Y
         << "\n";
  return 0;
}
