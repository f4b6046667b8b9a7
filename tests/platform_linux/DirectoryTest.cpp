// Folders, attributes, searches and deletion (directory.cpp).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ScratchFolderTest.h"
#include "common/PathFunctions.h"

namespace {
class DirectoryTest : public ScratchFolderTest {};

TEST_F(DirectoryTest, FileAttributesTellFoldersFromFiles) {
  HANDLE file = Open(Path("plain"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesW(FromUtf8(folder).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW(Path("plain").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(GetFileAttributesW(Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DirectoryTest, FindFirstFileOnMissingAndExistingEntries) {
  WIN32_FIND_DATAW data{};
  EXPECT_EQ(FindFirstFileW(Path("absent.ffu").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW(Path("absent/x.ffu").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  HANDLE file = Open(Path("phone.ffu"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  WriteText(file, "12345");
  CloseHandle(file);
  HANDLE search = FindFirstFileW(Path("phone.ffu").c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, L"phone.ffu");
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.dwFileAttributes & 0x10u, 0u);
  EXPECT_TRUE(FindClose(search));

  search = FindFirstFileW(FromUtf8(folder).c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_NE(data.dwFileAttributes & 0x10u, 0u);
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

// A file whose own name holds '*' is found, also by a user who may not list
// its folder.
TEST_F(DirectoryTest, AFileNamedLikeAPatternIsFoundInAFolderThatCannotBeListed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to change user";
  for (const char* name : {"a.ffu", "*.ffu"}) CloseHandle(Open(Path(name), 0, CREATE_NEW));
  ASSERT_EQ(chmod(folder.c_str(), 0711), 0);
  if (fork() == 0)
    _exit(setuid(65534) == 0 && PathExists(Path("*.ffu")) && !PathExists(Path("?.ffu")) ? 0 : 1);
  int status = 0;
  wait(&status);
  EXPECT_EQ(status, 0);
}

TEST_F(DirectoryTest, FoldersAndDeletion) {
  const std::wstring work = Path("phone.mnt");
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(work.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(Path("a/b").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(work.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  HANDLE file = Open(Path("gone"), 0, CREATE_NEW);
  CloseHandle(file);
  EXPECT_TRUE(DeleteFileW(Path("gone").c_str()));
  EXPECT_FALSE(DeleteFileW(Path("gone").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

struct SearchCase {
  const char* name;
  const char* pattern;
  std::vector<std::string> found;  // empty: the search finds nothing
};

class WildcardSearch : public DirectoryTest, public testing::WithParamInterface<SearchCase> {};

// '*' and '?' in the last part of a search name every match, in name order,
// one by FindFirstFileW and the rest by FindNextFileW.
TEST_P(WildcardSearch, NamesEveryMatchOnce) {
  for (const char* file : {"kmd1A.vhd", "kmd2.tmp", "phone.vhd", "kmdB.vhdx", ".kmd"})
    ASSERT_EQ(close(open((folder + "/" + file).c_str(), O_CREAT | O_WRONLY, 0600)), 0);
  ASSERT_EQ(mkdir((folder + "/kmd.mnt").c_str(), 0700), 0);
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(Path(GetParam().pattern).c_str(), &data);
  std::vector<std::string> found;
  if (search != INVALID_HANDLE_VALUE) {
    do found.push_back(ToUtf8(data.cFileName));
    while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(search);
  } else {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  EXPECT_EQ(found, GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WildcardSearch,
    testing::Values(
        SearchCase{"prefix", "kmd*", {"kmd.mnt", "kmd1A.vhd", "kmd2.tmp", "kmdB.vhdx"}},
        SearchCase{"extension", "*.vhd", {"kmd1A.vhd", "phone.vhd"}},
        SearchCase{"one_character", "kmd?.tmp", {"kmd2.tmp"}},
        SearchCase{"star_in_the_middle", "k*d*x", {"kmdB.vhdx"}},
        SearchCase{"nothing", "none*", {}}),
    [](const testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });
}  // namespace
