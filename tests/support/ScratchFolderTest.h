// A fixture of the Linux layer's file tests: a fresh folder per test, removed
// with everything in it afterwards, and COM set up on the test's thread, as
// the program does before it opens folders through the shell.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TempFolder.h"
#include "linux/support/runtime/text.h"
#include "platform.h"

class ScratchFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    folder = temp.path;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
  }
  void TearDown() override { CoUninitialize(); }
  std::wstring Path(const char* name) const { return FromUtf8(folder + "/" + name); }

  TempFolder temp;
  std::string folder;
};

inline HANDLE Open(const std::wstring& path, DWORD share, DWORD disposition = OPEN_EXISTING,
                   DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
}

inline void WriteText(HANDLE file, const char* text) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr));
  ASSERT_EQ(written, strlen(text));
}
