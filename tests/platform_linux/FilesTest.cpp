// Files (files.cpp): sharing, dispositions, types, reads and the file pointer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ScratchFolderTest.h"

namespace {
class FilesTest : public ScratchFolderTest {};

TEST_F(FilesTest, UnsharedFileRefusesEveryOtherOpener) {
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

TEST_F(FilesTest, SharedHoldersShareButExcludeAnUnsharedOpener) {
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

TEST_F(FilesTest, DispositionsCreateOpenAndReport) {
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

TEST_F(FilesTest, MissingFolderIsError3AndFolderIsNotAFile) {
  EXPECT_EQ(Open(Path("no/file"), 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(FromUtf8(folder), 0, OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Each kind of entry opens at once (a FIFO without a writer too) and reports
// its type; the open file reads as before.
TEST_F(FilesTest, OpenNeverWaitsAndFileTypesAreThoseOfTheSystem) {
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

TEST_F(FilesTest, ReadAtEndOfFileGivesFewerBytesThenNone) {
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

// Given an offset, a synchronous handle reads there, and its file pointer
// ends past the bytes read, also where the file ends first and backwards.
TEST_F(FilesTest, ReadAtAnOffsetLeavesThePointerPastTheBytesRead) {
  HANDLE file = Open(Path("offsets"), 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  WriteText(file, "0123456789");
  struct Case {
    DWORD offset;
    DWORD want;
    const char* bytes;
    LONGLONG pointer;
  };
  for (const Case& each : {Case{2, 3, "234", 5}, Case{7, 8, "789", 10}, Case{0, 1, "0", 1}}) {
    OVERLAPPED at{};
    at.Offset = each.offset;
    char buffer[16] = {};
    DWORD count = 99;
    ASSERT_TRUE(ReadFile(file, buffer, each.want, &count, &at));
    EXPECT_EQ(std::string(buffer, count), each.bytes);
    LARGE_INTEGER zero{};
    LARGE_INTEGER pointer{};
    ASSERT_TRUE(SetFilePointerEx(file, zero, &pointer, FILE_CURRENT));
    EXPECT_EQ(pointer.QuadPart, each.pointer);
  }
  CloseHandle(file);
}

TEST_F(FilesTest, FilePointerBeforeStartFailsAndStays) {
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

TEST_F(FilesTest, BadHandlesFailWithError6) {
  DWORD count = 0;
  char byte = 0;
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(WriteFile(nullptr, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FlushFileBuffers(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(FromUtf8(folder).c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReadFile(search, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  FindClose(search);
}
// As on Windows, only a handle open for writing may flush.
TEST_F(FilesTest, FlushNeedsAHandleOpenForWriting) {
  HANDLE writer = Open(Path("flushed"), FILE_SHARE_READ, CREATE_NEW);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FlushFileBuffers(writer));
  HANDLE reader =
      Open(Path("flushed"), FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, GENERIC_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_FALSE(FlushFileBuffers(reader));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(reader);
  CloseHandle(writer);
}
}  // namespace
