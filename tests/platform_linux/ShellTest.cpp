// Opening folders through the shell (shell.cpp): printed without a desktop,
// handed to the desktop's opener, detached and as the user the run is for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ScopedVariable.h"
#include "ScratchFolderTest.h"
#include "StdoutCapture.h"

namespace {
void WriteScript(const std::string& path, const std::string& text) {
  FILE* file = fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fputs(text.c_str(), file);
  fclose(file);
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

class ShellTest : public ScratchFolderTest {
 protected:
  // Puts an xdg-open made of `script` on the search path, ahead of the
  // system's folders (or alone there), and lets a desktop seem to run, for
  // the rest of the test.
  void InstallOpener(const std::string& script, bool alone = false) {
    const std::string bin = folder + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    WriteScript(bin + "/xdg-open", script);
    const std::string searchPath = alone ? bin : bin + ":/usr/bin:/bin";
    path = std::make_unique<ScopedVariable>("PATH", searchPath.c_str());
    display = std::make_unique<ScopedVariable>("DISPLAY", ":77");
  }

  std::unique_ptr<ScopedVariable> path, display;
};

TEST_F(ShellTest, ShellOpenWithoutDesktopPrintsTheFolder) {
  ScopedVariable display("DISPLAY", nullptr);
  ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
  const std::wstring work = Path("phone.mnt/");
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  // Without COM on the thread the folder's verb is not found.
  CoUninitialize();
  EXPECT_LE(reinterpret_cast<intptr_t>(
                ShellExecuteW(nullptr, L"open", work.c_str(), nullptr, nullptr, 10)),
            32);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
  StdoutCapture capture;
  const intptr_t opened =
      reinterpret_cast<intptr_t>(ShellExecuteW(nullptr, L"open", work.c_str(), nullptr, nullptr, 10));
  const intptr_t missing = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"open", Path("none/").c_str(), nullptr, nullptr, 10));
  const std::string output = capture.Finish();
  EXPECT_GT(opened, 32);
  EXPECT_LE(missing, 32);
  EXPECT_EQ(output, folder + "/phone.mnt/\n");
}


// The first line of the file the detached opener writes, once it is there
// (waits up to four seconds); empty if it never comes.
std::string LineOnceWritten(const std::string& path) {
  std::string seen;
  for (int attempt = 0; attempt < 200 && seen.empty(); ++attempt) {
    usleep(20000);
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) continue;
    char line[512] = {};
    if (fgets(line, sizeof line, file) != nullptr) seen = line;
    fclose(file);
  }
  return seen;
}

TEST_F(ShellTest, ShellOpenOnADesktopStartsTheOpenerDetached) {
  const std::string marker = folder + "/opened";
  ASSERT_NO_FATAL_FAILURE(InstallOpener("#!/bin/sh\necho \"$1\" > '" + marker + ".part'\nmv '" +
                                        marker + ".part' '" + marker + "'\n"));
  const std::wstring work = Path("phone.mnt/");
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  StdoutCapture capture;
  const intptr_t opened = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"open", work.c_str(), nullptr, nullptr, SW_SHOWDEFAULT));
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_GT(opened, 32);
  EXPECT_EQ(LineOnceWritten(marker), folder + "/phone.mnt/\n");
}

// Under sudo the folder opens for the user who ran sudo, with that user's
// identity and home, never as root; a plain root run opens it as root.
TEST_F(ShellTest, ShellOpenStartsTheOpenerAsTheUserTheRunIsFor) {
  if (geteuid() != 0) GTEST_SKIP() << "acting for another user needs root";
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  const std::string out = folder + "/out";
  ASSERT_EQ(mkdir(out.c_str(), 0777), 0);
  ASSERT_EQ(chmod(out.c_str(), 0777), 0);
  ASSERT_NO_FATAL_FAILURE(
      InstallOpener("#!/bin/sh\necho \"$(id -u) $(id -g) $(id -G) $HOME $1\" > '" + out +
                    "/part'\nmv '" + out + "/part' '" + out + "/seen'\n"));
  ScopedVariable home("HOME", "/root");
  const std::string work = folder + "/phone.mnt/";
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  struct Case {
    const char* sudoUid;
    const char* sudoGid;
    std::string seen;
  } cases[] = {
      {nullptr, nullptr, "0 0 0 /root " + work},
      {"65534", "65534", "65534 65534 65534 /nonexistent " + work},
      {"0", "0", "0 0 0 /root " + work},
  };
  for (const Case& c : cases) {
    unlink((out + "/seen").c_str());
    ScopedVariable sudoUid("SUDO_UID", c.sudoUid);
    ScopedVariable sudoGid("SUDO_GID", c.sudoGid);
    const intptr_t opened = reinterpret_cast<intptr_t>(ShellExecuteW(
        nullptr, L"open", FromUtf8(work).c_str(), nullptr, nullptr, SW_SHOWDEFAULT));
    EXPECT_GT(opened, 32) << c.seen;
    EXPECT_EQ(LineOnceWritten(out + "/seen"), c.seen + "\n");
  }
}

TEST_F(ShellTest, ShellOpenReportsAnOpenerThatCannotStart) {
  ASSERT_NO_FATAL_FAILURE(InstallOpener("#!/no/such/interpreter\n", true));
  const intptr_t opened = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"open", FromUtf8(folder).c_str(), nullptr, nullptr, 10));
  EXPECT_LE(opened, 32);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
}  // namespace
