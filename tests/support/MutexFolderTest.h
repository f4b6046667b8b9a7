// A fixture for the tests of named mutexes: the temporary folder, where their
// lock files live, is a fresh one of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "ScopedVariable.h"
#include "TempFolder.h"
#include "linux/support/runtime/text.h"
#include "platform.h"

// The name of the mutex the tests hold, and the file that holds it.
inline constexpr wchar_t kTestMutexName[] = L"Local\\Brackwen.UnitTest";

class MutexFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    tmpdir = std::make_unique<ScopedVariable>("TMPDIR", folder.path.c_str());
    wchar_t temp[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    lockFile = ToUtf8(std::wstring(temp, length)) + "Brackwen.UnitTest.lock";
  }
  void TearDown() override { tmpdir.reset(); }
  bool LockFileExists() const { return access(lockFile.c_str(), F_OK) == 0; }

  TempFolder folder;
  std::unique_ptr<ScopedVariable> tmpdir;
  std::string lockFile;
};
