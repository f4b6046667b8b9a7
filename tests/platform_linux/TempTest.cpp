// The temporary folder and temporary file names (temp.cpp): the caller's own
// private folder under TMPDIR, refused where others could change it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cwchar>
#include <string>

#include "ScopedVariable.h"
#include "ScratchFolderTest.h"
#include "StdoutCapture.h"
#include "support/users/temp_folder.h"

namespace {
class TempTest : public ScratchFolderTest {};

TEST_F(TempTest, TempFileNamesAreKmdHexTmpCreatedEmptyAndUnique) {
  wchar_t first[MAX_PATH] = {};
  wchar_t second[MAX_PATH] = {};
  const std::wstring base = FromUtf8(folder + "/");
  const unsigned one = GetTempFileNameW(base.c_str(), L"kmdx", 0, first);
  const unsigned two = GetTempFileNameW(base.c_str(), L"kmd", 0, second);
  ASSERT_NE(one, 0u);
  ASSERT_NE(two, 0u);
  EXPECT_NE(one, two);
  for (const auto& [name, number] : {std::pair<const wchar_t*, unsigned>{first, one}, {second, two}}) {
    wchar_t expected[MAX_PATH];
    swprintf(expected, MAX_PATH, L"%lskmd%X.tmp", base.c_str(), number);
    EXPECT_STREQ(name, expected);
    struct stat status {};
    ASSERT_EQ(stat(ToUtf8(name).c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 0);
  }
}

TEST_F(TempTest, TempFileNameInMissingFolderFails) {
  wchar_t name[MAX_PATH] = {};
  EXPECT_EQ(GetTempFileNameW(Path("missing/").c_str(), L"kmd", 0, name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

std::string OwnFolderName() { return "brackwen-" + std::to_string(geteuid()); }

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

TEST_F(TempTest, TempPathIsTheCallersOwnFolderInTmpdir) {
  const std::string own = folder + "/" + OwnFolderName();
  for (const std::string& value : {folder, folder + "/"}) {
    ScopedVariable tmpdir("TMPDIR", value.c_str());
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), own.size() + 1) << value;
    EXPECT_EQ(std::wstring(buffer), FromUtf8(own + "/")) << value;
    EXPECT_EQ(ModeOf(own), S_IFDIR | 0700) << value;
  }
  // Without TMPDIR, /tmp: the user's real folder, so only asked for the size
  // the path needs, which makes and changes nothing.
  ScopedVariable unset("TMPDIR", nullptr);
  EXPECT_EQ(PrivateTempFolderPath(), "/tmp/" + OwnFolderName() + "/");
  EXPECT_EQ(GetTempPathW(0, nullptr), PrivateTempFolderPath().size() + 1);
}

TEST_F(TempTest, TempPathTooSmallReportsTheNeededSizeAndMakesNothing) {
  ScopedVariable tmpdir("TMPDIR", folder.c_str());
  const std::wstring expected = FromUtf8(folder + "/" + OwnFolderName() + "/");
  const DWORD length = static_cast<DWORD>(expected.size());
  wchar_t buffer[MAX_PATH];
  wmemset(buffer, L'#', MAX_PATH);
  EXPECT_EQ(GetTempPathW(length, buffer), length + 1);
  EXPECT_EQ(buffer[0], L'#');
  EXPECT_EQ(ModeOf(folder + "/" + OwnFolderName()), 0u);
  EXPECT_EQ(GetTempPathW(length + 1, buffer), length);
  EXPECT_EQ(std::wstring(buffer), expected);
}

// Folders the caller already owns are taken, with group and others shut out;
// a run made for a sudo user leaves them a way through to the mount inside.
TEST_F(TempTest, TempPathTakesSafeFoldersAndSetsTheirMode) {
  const std::string safe = folder + "/safe";
  ASSERT_EQ(mkdir(safe.c_str(), 0755), 0);
  const std::string own = safe + "/" + OwnFolderName();
  struct Case {
    const char* name;
    mode_t baseMode;  // of the folder TMPDIR names
    mode_t ownMode;   // of the private folder before the call; 0: missing
    const char* sudoUid;
    mode_t expected;
  } cases[] = {
      {"made when missing", 0755, 0, nullptr, 0700},
      {"readable by others: tightened", 0755, 0755, nullptr, 0700},
      {"sticky base open to all", 01777, 0700, nullptr, 0700},
      {"made for a sudo user", 0755, 0700, "65534", 0711},
      {"sudo run by root itself", 0755, 0711, "0", 0700},
      {"sudo ids that are not numbers", 0755, 0711, "65534x", 0700},
      {"sudo ids out of range", 0755, 0711, "4294967295", 0700},
  };
  for (const Case& c : cases) {
    rmdir(own.c_str());
    ASSERT_EQ(chmod(safe.c_str(), c.baseMode), 0);
    if (c.ownMode != 0) {
      ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
      ASSERT_EQ(chmod(own.c_str(), c.ownMode), 0);
    }
    if (c.sudoUid != nullptr && geteuid() != 0) continue;  // only root acts for others
    ScopedVariable tmpdir("TMPDIR", safe.c_str());
    ScopedVariable sudoUid("SUDO_UID", c.sudoUid);
    ScopedVariable sudoGid("SUDO_GID", c.sudoUid);
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_NE(GetTempPathW(MAX_PATH, buffer), 0u) << c.name;
    EXPECT_EQ(ModeOf(own), S_IFDIR | c.expected) << c.name;
  }
}

// Whatever stands in the private folder's place that is not a folder of the
// caller alone is refused with a line that names it and says why, and is
// left as it was.
TEST_F(TempTest, TempPathRefusesFoldersOthersCouldChange) {
  const std::string base = folder + "/base";
  const std::string own = base + "/" + OwnFolderName();
  const std::string elsewhere = folder + "/elsewhere";
  const bool root = geteuid() == 0;
  struct Case {
    const char* name;
    bool needsRoot;
    std::string setup;  // shell commands; $B is the base, $O the private folder
    DWORD error;
    std::string reason;
  } cases[] = {
      {"link to a folder", false, "ln -s '" + elsewhere + "' \"$O\"", ERROR_DIRECTORY,
       "it is a symbolic link"},
      {"dangling link", false, "ln -s /nonexistent \"$O\"", ERROR_DIRECTORY,
       "it is a symbolic link"},
      {"file", false, "echo x > \"$O\"", ERROR_DIRECTORY, "it is not a folder"},
      {"writable by others", false, "mkdir -m 0777 \"$O\"", ERROR_ACCESS_DENIED,
       "other users can write to it"},
      {"writable by the group", false, "mkdir -m 0770 \"$O\"", ERROR_ACCESS_DENIED,
       "other users can write to it"},
      {"another user's", true, "mkdir -m 0700 \"$O\" && chown 65534 \"$O\"",
       ERROR_ACCESS_DENIED, "it belongs to user 65534, not to user 0"},
      {"base open to all, not sticky", false, "chmod 0777 \"$B\"", ERROR_ACCESS_DENIED,
       "a folder above it can be changed by other users"},
      {"base of another user", true, "chown 65534 \"$B\"", ERROR_ACCESS_DENIED,
       "a folder above it can be changed by other users"},
  };
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
  for (const Case& c : cases) {
    if (c.needsRoot && !root) continue;
    const std::string reset = "rm -rf '" + base + "' && mkdir -m 0755 '" + base + "' && B='" +
                              base + "' O='" + own + "' && " + c.setup;
    ASSERT_EQ(system(reset.c_str()), 0) << c.name;
    const mode_t before = ModeOf(own);
    ScopedVariable tmpdir("TMPDIR", base.c_str());
    wchar_t buffer[MAX_PATH] = {};
    StdoutCapture capture;
    SetLastError(0);
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    const DWORD error = GetLastError();
    EXPECT_EQ(capture.Finish(), "!ERROR! The temporary folder '" + own + "/' is refused: " +
                                    c.reason + ".\n")
        << c.name;
    EXPECT_EQ(length, 0u) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_EQ(ModeOf(own), before) << c.name;
    EXPECT_EQ(ModeOf(elsewhere), S_IFDIR | 0755) << c.name;
  }
}
}  // namespace
