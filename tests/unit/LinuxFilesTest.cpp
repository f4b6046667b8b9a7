#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "StdoutCapture.h"
#include "common/PathFunctions.h"
#include "platform.h"
#include "linux/support/runtime/text.h"

namespace {
// A fresh folder per test, removed with everything in it afterwards.
class LinuxFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/linux-files-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
    // Folders open through the shell's COM extensions.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    const std::string command = "rm -rf '" + folder + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::wstring Path(const char* name) const { return FromUtf8(folder + "/" + name); }

  std::string folder;
};

// Sets an environment variable for one scope and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name(name) {
    const char* old = getenv(name);
    hadValue = old != nullptr;
    if (hadValue) oldValue = old;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedVariable() {
    if (hadValue) setenv(name, oldValue.c_str(), 1);
    else unsetenv(name);
  }

 private:
  const char* name;
  bool hadValue = false;
  std::string oldValue;
};

HANDLE Open(const std::wstring& path, DWORD share, DWORD disposition = OPEN_EXISTING,
            DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
}

void WriteText(HANDLE file, const char* text) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr));
  ASSERT_EQ(written, strlen(text));
}

TEST_F(LinuxFilesTest, TempFileNamesAreKmdHexTmpCreatedEmptyAndUnique) {
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

TEST_F(LinuxFilesTest, TempFileNameInMissingFolderFails) {
  wchar_t name[MAX_PATH] = {};
  EXPECT_EQ(GetTempFileNameW(Path("missing/").c_str(), L"kmd", 0, name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

std::string OwnFolderName() { return "brackwen-" + std::to_string(geteuid()); }

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

TEST_F(LinuxFilesTest, TempPathIsTheCallersOwnFolderInTmpdir) {
  const std::string own = folder + "/" + OwnFolderName();
  for (const std::string& value : {folder, folder + "/"}) {
    ScopedVariable tmpdir("TMPDIR", value.c_str());
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), own.size() + 1) << value;
    EXPECT_EQ(std::wstring(buffer), FromUtf8(own + "/")) << value;
    EXPECT_EQ(ModeOf(own), S_IFDIR | 0700) << value;
  }
  ScopedVariable unset("TMPDIR", nullptr);
  wchar_t buffer[MAX_PATH] = {};
  const std::wstring fallback = FromUtf8("/tmp/" + OwnFolderName() + "/");
  EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), fallback.size());
  EXPECT_EQ(std::wstring(buffer), fallback);
}

TEST_F(LinuxFilesTest, TempPathTooSmallReportsTheNeededSizeAndMakesNothing) {
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
TEST_F(LinuxFilesTest, TempPathTakesSafeFoldersAndSetsTheirMode) {
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
TEST_F(LinuxFilesTest, TempPathRefusesFoldersOthersCouldChange) {
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

TEST_F(LinuxFilesTest, UnsharedFileRefusesEveryOtherOpener) {
  const std::wstring path = Path("image.ffu");
  HANDLE first = Open(path, 0, CREATE_NEW);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  for (DWORD share : {0u, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
    SetLastError(0);
    EXPECT_EQ(Open(path, share, OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  ASSERT_TRUE(CloseHandle(first));
  HANDLE again = Open(path, 0);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST_F(LinuxFilesTest, SharedHoldersShareButExcludeAnUnsharedOpener) {
  const std::wstring path = Path("shared");
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE first = Open(path, share, CREATE_NEW);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  HANDLE second = Open(path, share);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(path, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(first);
  CloseHandle(second);
}

struct DispositionCase {
  DWORD disposition;
  bool exists;
  bool opens;
  DWORD lastError;
};

TEST_F(LinuxFilesTest, DispositionsCreateOpenAndReport) {
  const DispositionCase cases[] = {
      {CREATE_NEW, false, true, 0},     {CREATE_NEW, true, false, ERROR_FILE_EXISTS},
      {CREATE_ALWAYS, false, true, 0},  {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS},
      {OPEN_EXISTING, false, false, 2}, {OPEN_EXISTING, true, true, 0},
      {OPEN_ALWAYS, false, true, 0},    {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS},
      {7, true, false, ERROR_INVALID_PARAMETER},
  };
  int index = 0;
  for (const DispositionCase& test : cases) {
    const std::wstring path = Path(("file" + std::to_string(index++)).c_str());
    if (test.exists) {
      HANDLE maker = Open(path, 0, CREATE_NEW);
      ASSERT_NE(maker, INVALID_HANDLE_VALUE);
      WriteText(maker, "old");
      CloseHandle(maker);
    }
    SetLastError(1234);
    HANDLE file = Open(path, 0, test.disposition);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, test.opens) << index;
    EXPECT_EQ(GetLastError(), test.lastError) << index;
    if (file == INVALID_HANDLE_VALUE) continue;
    struct stat status {};
    ASSERT_EQ(stat(ToUtf8(path).c_str(), &status), 0);
    const bool keepsData = test.exists && test.disposition != CREATE_ALWAYS;
    EXPECT_EQ(status.st_size, keepsData ? 3 : 0) << index;
    CloseHandle(file);
  }
}

TEST_F(LinuxFilesTest, MissingFolderIsError3AndFolderIsNotAFile) {
  EXPECT_EQ(Open(Path("no/file"), 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(FromUtf8(folder), 0, OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Each kind of entry opens at once (a FIFO without a writer too) and reports
// its type; the open file reads as before.
TEST_F(LinuxFilesTest, OpenNeverWaitsAndFileTypesAreThoseOfTheSystem) {
  const std::string fifo = folder + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  HANDLE file = Open(Path("plain"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  WriteText(file, "text");
  CloseHandle(file);
  const struct {
    std::wstring path;
    DWORD type;
  } cases[] = {{Path("plain"), FILE_TYPE_DISK},
               {FromUtf8(fifo), FILE_TYPE_PIPE},
               {L"/dev/null", FILE_TYPE_CHAR}};
  for (const auto& c : cases) {
    HANDLE opened = Open(c.path, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, GENERIC_READ);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE) << ToUtf8(c.path.c_str());
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(GetFileType(opened), c.type) << ToUtf8(c.path.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << ToUtf8(c.path.c_str());
    CloseHandle(opened);
  }
  file = Open(Path("plain"), 0, OPEN_EXISTING, GENERIC_READ);
  char bytes[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, bytes, sizeof(bytes), &got, nullptr));
  EXPECT_EQ(std::string(bytes, got), "text");
  CloseHandle(file);
  EXPECT_EQ(GetFileType(INVALID_HANDLE_VALUE), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(LinuxFilesTest, FileAttributesTellFoldersFromFiles) {
  HANDLE file = Open(Path("plain"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesW(FromUtf8(folder).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW(Path("plain").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(GetFileAttributesW(Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(LinuxFilesTest, ReadAtEndOfFileGivesFewerBytesThenNone) {
  HANDLE file = Open(Path("data"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  WriteText(file, "0123456789");
  LARGE_INTEGER start{};
  ASSERT_TRUE(SetFilePointerEx(file, start, nullptr, FILE_BEGIN));
  char buffer[16] = {};
  DWORD count = 99;
  ASSERT_TRUE(ReadFile(file, buffer, 16, &count, nullptr));
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(std::string(buffer, count), "0123456789");
  ASSERT_TRUE(ReadFile(file, buffer, 16, &count, nullptr));
  EXPECT_EQ(count, 0u);
  CloseHandle(file);
}

TEST_F(LinuxFilesTest, FilePointerBeforeStartFailsAndStays) {
  HANDLE file = Open(Path("seek"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  WriteText(file, "abcdefgh");
  LARGE_INTEGER distance{};
  LARGE_INTEGER position{};
  distance.QuadPart = -9;
  EXPECT_FALSE(SetFilePointerEx(file, distance, &position, FILE_END));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  distance.QuadPart = -3;
  ASSERT_TRUE(SetFilePointerEx(file, distance, &position, FILE_END));
  EXPECT_EQ(position.QuadPart, 5);
  distance.QuadPart = -6;
  EXPECT_FALSE(SetFilePointerEx(file, distance, &position, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  distance.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(file, distance, &position, FILE_CURRENT));
  EXPECT_EQ(position.QuadPart, 5);
  EXPECT_FALSE(SetFilePointerEx(file, distance, &position, 3));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(file);
}

TEST_F(LinuxFilesTest, FindFirstFileOnMissingAndExistingEntries) {
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
TEST_F(LinuxFilesTest, AFileNamedLikeAPatternIsFoundInAFolderThatCannotBeListed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to change user";
  for (const char* name : {"a.ffu", "*.ffu"}) CloseHandle(Open(Path(name), 0, CREATE_NEW));
  ASSERT_EQ(chmod(folder.c_str(), 0711), 0);
  if (fork() == 0)
    _exit(setuid(65534) == 0 && PathExists(Path("*.ffu")) && !PathExists(Path("?.ffu")) ? 0 : 1);
  int status = 0;
  wait(&status);
  EXPECT_EQ(status, 0);
}

TEST_F(LinuxFilesTest, FoldersAndDeletion) {
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

TEST_F(LinuxFilesTest, BadHandlesFailWithError6) {
  DWORD count = 0;
  char byte = 0;
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(WriteFile(nullptr, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(FromUtf8(folder).c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReadFile(search, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  FindClose(search);
}

TEST(LinuxModuleTest, OwnPathIsCutToFitLikeTheSystem) {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  ASSERT_GT(length, 1u);
  EXPECT_EQ(length, wcslen(path));
  char real[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", real, sizeof real - 1), 0);
  EXPECT_EQ(ToUtf8(path), real);

  wchar_t small[4];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(small), std::wstring(path, 3));
}

TEST(LinuxTextTest, Utf8RoundTripsAndKeepsInvalidBytes) {
  const std::wstring wide = L"Gr\u00fc\u00dfe \u6587 \U0001F600";
  EXPECT_EQ(ToUtf8(wide), "Gr\xc3\xbc\xc3\x9f" "e \xe6\x96\x87 \xf0\x9f\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(wide)), wide);
  const std::string raw = "a\xff\xc3(b\xe6\x96";
  EXPECT_EQ(ToUtf8(FromUtf8(raw)), raw);
  EXPECT_EQ(FromUtf8(raw).size(), raw.size());
}

TEST(LinuxTextTest, CharUpperConvertsInPlace) {
  wchar_t extension[] = L".ffu";
  EXPECT_EQ(CharUpperW(extension), extension);
  EXPECT_STREQ(extension, L".FFU");
}

TEST(LinuxComTest, GuidTextIsBracedUpperCase) {
  const GUID id = {0xAE420040, 0x13DD, 0x41F2, {0xAE, 0x7F, 0x0D, 0xC3, 0x58, 0x54, 0xC8, 0xD7}};
  wchar_t* text = nullptr;
  ASSERT_EQ(StringFromCLSID(id, &text), 0);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, L"{AE420040-13DD-41F2-AE7F-0DC35854C8D7}");
  EXPECT_EQ(wcslen(text), 38u);
  CoTaskMemFree(text);
}

TEST_F(LinuxFilesTest, ShellOpenWithoutDesktopPrintsTheFolder) {
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
}  // namespace

namespace {
void WriteScript(const std::string& path, const std::string& text) {
  FILE* file = fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  fputs(text.c_str(), file);
  fclose(file);
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

TEST_F(LinuxFilesTest, ShellOpenOnADesktopStartsTheOpenerDetached) {
  const std::string bin = folder + "/bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  const std::string marker = folder + "/opened";
  WriteScript(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" > '" + marker + ".part'\nmv '" +
                                     marker + ".part' '" + marker + "'\n");
  const std::string searchPath = bin + ":/usr/bin:/bin";
  ScopedVariable path("PATH", searchPath.c_str());
  ScopedVariable display("DISPLAY", ":77");
  const std::wstring work = Path("phone.mnt/");
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  StdoutCapture capture;
  const intptr_t opened = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"open", work.c_str(), nullptr, nullptr, SW_SHOWDEFAULT));
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_GT(opened, 32);
  std::string seen;
  for (int attempt = 0; attempt < 200 && seen.empty(); ++attempt) {
    usleep(20000);
    FILE* file = fopen(marker.c_str(), "r");
    if (file == nullptr) continue;
    char line[512] = {};
    if (fgets(line, sizeof line, file) != nullptr) seen = line;
    fclose(file);
  }
  EXPECT_EQ(seen, folder + "/phone.mnt/\n");
}

// Under sudo the folder opens for the user who ran sudo, with that user's
// identity and home, never as root; a plain root run opens it as root.
TEST_F(LinuxFilesTest, ShellOpenStartsTheOpenerAsTheUserTheRunIsFor) {
  if (geteuid() != 0) GTEST_SKIP() << "acting for another user needs root";
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  const std::string bin = folder + "/bin";
  const std::string out = folder + "/out";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(out.c_str(), 0777), 0);
  ASSERT_EQ(chmod(out.c_str(), 0777), 0);
  WriteScript(bin + "/xdg-open", "#!/bin/sh\necho \"$(id -u) $(id -g) $(id -G) $HOME $1\" > '" +
                                     out + "/part'\nmv '" + out + "/part' '" + out +
                                     "/seen'\n");
  const std::string searchPath = bin + ":/usr/bin:/bin";
  ScopedVariable path("PATH", searchPath.c_str());
  ScopedVariable display("DISPLAY", ":77");
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
    std::string seen;
    for (int attempt = 0; attempt < 200 && seen.empty(); ++attempt) {
      usleep(20000);
      FILE* file = fopen((out + "/seen").c_str(), "r");
      if (file == nullptr) continue;
      char line[512] = {};
      if (fgets(line, sizeof line, file) != nullptr) seen = line;
      fclose(file);
    }
    EXPECT_EQ(seen, c.seen + "\n");
  }
}

TEST_F(LinuxFilesTest, ShellOpenReportsAnOpenerThatCannotStart) {
  const std::string bin = folder + "/bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  WriteScript(bin + "/xdg-open", "#!/no/such/interpreter\n");
  ScopedVariable path("PATH", bin.c_str());
  ScopedVariable display("DISPLAY", ":77");
  const intptr_t opened = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"open", FromUtf8(folder).c_str(), nullptr, nullptr, 10));
  EXPECT_LE(opened, 32);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
}  // namespace

namespace {
struct SearchCase {
  const char* name;
  const char* pattern;
  std::vector<std::string> found;  // empty: the search finds nothing
};

class WildcardSearch : public LinuxFilesTest, public testing::WithParamInterface<SearchCase> {};

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
