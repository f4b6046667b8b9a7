// The path functions on the Linux build, where the separator is '/'.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "TempFolder.h"
#include "common/PathFunctions.h"
#include "vdisk/TempPaths.h"
#include "win32.h"

namespace {

struct NameCase {
  std::wstring path;
  std::wstring extension;
  std::wstring baseName;
};

class PathNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PathNames, SplitAtTheLastDotAndSeparator) {
  EXPECT_EQ(FileExtension(GetParam().path), GetParam().extension);
  EXPECT_EQ(FileBaseName(GetParam().path), GetParam().baseName);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathNames,
    ::testing::Values(NameCase{L"/img/phone.ffu", L".ffu", L"phone"},
                      NameCase{L"phone.ffu", L".ffu", L"phone"},
                      NameCase{L"/img/phone", L"", L"phone"},
                      NameCase{L"/img.old/phone", L".old/phone", L"phone"},
                      NameCase{L"/tools.old/Brackwen", L".old/Brackwen", L"Brackwen"},
                      NameCase{L"/bin/Brackwen.old", L".old", L"Brackwen"},
                      NameCase{L"/img/archive.tar.ffu", L".ffu", L"archive.tar"},
                      NameCase{L"/img/.ffu", L".ffu", L""},
                      NameCase{L"/img/x.ffu/", L".ffu/", L""},
                      // A backslash is part of a Linux file name, not a separator.
                      NameCase{L"/img/C:\\img\\phone.ffu", L".ffu", L"C:\\img\\phone"},
                      NameCase{L"", L"", L""}));

TEST(FolderNames, AreTheFolderOwnNameWithOneSeparator) {
  struct Case {
    std::wstring path, name;
  } cases[] = {{L"/tmp/phone.mnt/", L"phone.mnt/"},
               {L"phone.mnt/", L"phone.mnt/"},
               {L"/tmp/a\\b.mnt/", L"a\\b.mnt/"},
               {L"/", L"/"},
               {L"", L""}};
  for (const Case& c : cases) EXPECT_EQ(FolderName(c.path), c.name) << std::string(c.path.begin(), c.path.end());
}

TEST(PathExistence, DropsOneTrailingSeparatorAndRefusesTheEmptyPath) {
  TempFolder folder;
  std::wstring root(folder.path.begin(), folder.path.end());
  std::ofstream(folder.path + "/file.ffu") << "x";
  EXPECT_TRUE(PathExists(root));
  EXPECT_TRUE(PathExists(root + L"/"));
  EXPECT_TRUE(PathExists(root + L"/file.ffu"));
  EXPECT_FALSE(PathExists(root + L"/missing.ffu"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(PathExists(L""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The temporary VHD name and the work folder, under a temporary folder of
// the test's own.
class WorkPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = getenv("TMPDIR");
    if (previous != nullptr) savedTmpdir = previous;
    setenv("TMPDIR", folder.path.c_str(), 1);
    // The program's files go to the caller's private folder inside TMPDIR.
    ownFolder = folder.path + "/brackwen-" + std::to_string(geteuid());
    root.assign(ownFolder.begin(), ownFolder.end());
  }
  void TearDown() override {
    if (savedTmpdir.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", savedTmpdir.c_str(), 1);
  }
  TempFolder folder;
  std::string ownFolder;  // the caller's private folder inside TMPDIR
  std::wstring root;
  std::string savedTmpdir;
};

TEST_F(WorkPaths, VhdPathIsAFreshKmdNameWhoseFileIsGone) {
  struct Case {
    VirtualDiskFormat format;
    std::wstring extension;
  } cases[] = {{VirtualDiskFormat::kVhd, L".vhd"}, {VirtualDiskFormat::kVhdx, L".vhdx"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.extension));
    std::wstring vhdPath;
    ASSERT_EQ(MakeVhdPath(vhdPath, c.format), 0);
    std::wstring name = vhdPath.substr(root.size() + 1);
    EXPECT_EQ(name.rfind(L"kmd", 0), 0u);
    ASSERT_GT(name.size(), c.extension.size());
    EXPECT_EQ(name.substr(name.size() - c.extension.size()), c.extension);
    EXPECT_EQ(name.find(L'.'), name.size() - c.extension.size()) << "one extension only";
    EXPECT_FALSE(PathExists(vhdPath));
    const std::wstring stem = vhdPath.substr(0, vhdPath.size() - c.extension.size());
    EXPECT_FALSE(PathExists(stem + L".tmp"));
  }
}

// The name is stored only when it fits with its terminator; a name that does
// not fit leaves neither a cut name nor the file behind.
TEST_F(WorkPaths, TempFileNameFitsTheCallersBufferOrNothingIsMade) {
  wchar_t probe[kTempPathBufferSize];
  ASSERT_EQ(MakeTempFileName(probe, kTempPathBufferSize), 0);
  const size_t length = wcslen(probe);
  ASSERT_TRUE(DeleteFileW(probe));
  // The unique number is hexadecimal without padding: from one call to the
  // next a name may be up to three units longer or shorter.
  const std::wstring probed(probe);
  const size_t digits = length - (probed.rfind(L"kmd") + 3) - std::wcslen(L".tmp");
  const size_t longest = length - digits + 4;
  const size_t shortest = length - digits + 1;
  struct Case {
    size_t size;
    int result;
  } cases[] = {{longest + 1, 0},
               {shortest, ERROR_INSUFFICIENT_BUFFER},
               {1, ERROR_INSUFFICIENT_BUFFER}};
  for (const Case& c : cases) {
    std::vector<wchar_t> name(longest + 2, L'#');
    ASSERT_EQ(MakeTempFileName(name.data(), c.size), c.result) << c.size;
    std::error_code ignored;
    const auto files = std::distance(std::filesystem::directory_iterator(ownFolder, ignored),
                                     std::filesystem::directory_iterator());
    if (c.result == 0) {
      EXPECT_LT(wcslen(name.data()), c.size);
      EXPECT_TRUE(DeleteFileW(name.data()));
    } else {
      EXPECT_EQ(name[0], L'#') << c.size;
      EXPECT_EQ(files, 0) << c.size;
    }
  }
}

// A temporary folder too long for the buffer is a failure, never an empty
// name or a work folder in the current directory.
TEST_F(WorkPaths, ATemporaryFolderTooLongForTheBufferFails) {
  setenv("TMPDIR", (folder.path + "/" + std::string(kTempPathBufferSize, 'x')).c_str(), 1);
  wchar_t name[kTempPathBufferSize] = {};
  EXPECT_EQ(MakeTempFileName(name, kTempPathBufferSize), ERROR_INSUFFICIENT_BUFFER);
  std::wstring path;
  EXPECT_EQ(GetTempFolder(path), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_NE(MakeMountFolder(path, L"/img/phone.ffu"), 0);
  EXPECT_FALSE(PathExists(L"phone.mnt"));
}

TEST_F(WorkPaths, WorkFolderIsNamedAfterTheImageAndReused) {
  struct Case {
    std::wstring imagePath, folder;
  } cases[] = {{L"/img/phone.ffu", L"/phone.mnt/"},
               {L"/img/phone", L"/phone.mnt/"},
               {L"/img.old/phone", L"/phone.mnt/"},
               {L"phone.ffu", L"/phone.mnt/"}};
  for (const Case& c : cases) {
    std::wstring folder;
    ASSERT_EQ(MakeMountFolder(folder, c.imagePath), 0);
    EXPECT_EQ(folder, root + c.folder);
    EXPECT_TRUE(PathExists(folder));
  }
}

}  // namespace
