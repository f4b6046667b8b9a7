#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "StdoutCapture.h"
#include "common/ReportWin32Error.h"
#include "linux/support/runtime/errors.h"
#include "platform.h"

namespace {
constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                         FORMAT_MESSAGE_FROM_SYSTEM;

std::wstring SystemText(DWORD code, DWORD* length = nullptr) {
  wchar_t* text = nullptr;
  const DWORD count = FormatMessageW(kFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length != nullptr) *length = count;
  std::wstring result = text != nullptr ? text : L"";
  LocalFree(text);
  return result;
}

struct MessageCase {
  DWORD code;
  const wchar_t* text;
};

TEST(SystemMessageTest, TextsAreTheSystemWordingsWithCrLf) {
  const MessageCase cases[] = {
      {2, L"The system cannot find the file specified.\r\n"},
      {3, L"The system cannot find the path specified.\r\n"},
      {5, L"Access is denied.\r\n"},
      {32, L"The process cannot access the file because it is being used by another process.\r\n"},
      {38, L"Reached the end of the file.\r\n"},
      {87, L"The parameter is incorrect.\r\n"},
      {112, L"There is not enough space on the disk.\r\n"},
      {122, L"The data area passed to a system call is too small.\r\n"},
      {145, L"The directory is not empty.\r\n"},
      {183, L"Cannot create a file when that file already exists.\r\n"},
      {267, L"The directory name is invalid.\r\n"},
      {1460, L"This operation returned because the timeout period expired.\r\n"},
  };
  for (const MessageCase& test : cases) {
    DWORD length = 0;
    EXPECT_EQ(SystemText(test.code, &length), test.text) << test.code;
    EXPECT_EQ(length, wcslen(test.text)) << test.code;
  }
}

TEST(SystemMessageTest, EveryCodeTheLayerProducesHasText) {
  const DWORD codes[] = {
      ERROR_INVALID_FUNCTION, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
      ERROR_TOO_MANY_OPEN_FILES, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
      ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_DRIVE, ERROR_NO_MORE_FILES,
      ERROR_WRITE_PROTECT, ERROR_NOT_READY, ERROR_CRC, ERROR_SEEK, ERROR_WRITE_FAULT,
      ERROR_READ_FAULT, ERROR_GEN_FAILURE, ERROR_SHARING_VIOLATION, ERROR_HANDLE_EOF,
      ERROR_HANDLE_DISK_FULL, ERROR_NOT_SUPPORTED, ERROR_FILE_EXISTS,
      ERROR_INVALID_PARAMETER, ERROR_OPEN_FAILED, ERROR_BUFFER_OVERFLOW, ERROR_DISK_FULL,
      ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_NAME, ERROR_NEGATIVE_SEEK,
      ERROR_DIR_NOT_EMPTY, ERROR_BUSY, ERROR_ALREADY_EXISTS, ERROR_FILENAME_EXCED_RANGE,
      ERROR_MORE_DATA, ERROR_DIRECTORY, ERROR_NOT_A_REPARSE_POINT, ERROR_INVALID_DATA,
      ERROR_IO_DEVICE, ERROR_NO_SUCH_DEVICE, ERROR_TIMEOUT, ERROR_NOT_FOUND,
      ERROR_DEVICE_NOT_CONNECTED, ERROR_UNRECOGNIZED_VOLUME, ERROR_FILE_INVALID,
      ERROR_NO_SYSTEM_RESOURCES, ERROR_VIRTDISK_NOT_VIRTUAL_DISK,
      ERROR_VIRTDISK_PROVIDER_NOT_FOUND,
  };
  for (DWORD code : codes) {
    const std::wstring text = SystemText(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n") << code;
    EXPECT_NE(text[text.size() - 3], L' ') << code;
  }
}

TEST(SystemMessageTest, CodeWithoutTextGivesZeroAndNoBuffer) {
  wchar_t* text = nullptr;
  EXPECT_EQ(FormatMessageW(kFlags, nullptr, 0xDEAD, 0x400, reinterpret_cast<wchar_t*>(&text),
                           0, nullptr),
            0u);
  EXPECT_EQ(text, nullptr);
  EXPECT_NE(GetLastError(), 0u);
}

TEST(SystemMessageTest, CallerBufferTooSmallFailsWith122) {
  wchar_t small[8];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, small, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  wchar_t large[64];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, large, 64, nullptr), 19u);
  EXPECT_STREQ(large, L"Access is denied.\r\n");
}

struct ErrnoCase {
  int error;
  DWORD code;
};

TEST(SystemMessageTest, ErrnoMapsOntoWin32Codes) {
  const ErrnoCase cases[] = {
      {ENOENT, 2},  {ENOTDIR, 3},     {EMFILE, 4},         {EACCES, 5},   {EPERM, 5},
      {EBADF, 6},   {ENOMEM, 8},      {EROFS, 19},         {EIO, 1117},   {EBUSY, 32},
      {EEXIST, 183}, {EINVAL, 87},    {ENOSPC, 112},       {ENAMETOOLONG, 206},
      {ENOTEMPTY, 145}, {ENXIO, 433}, {ENODEV, 433},       {ETIMEDOUT, 1460},
      {ENOTSUP, 50}, {EXDEV, 31},     {0, 0},
  };
  for (const ErrnoCase& test : cases) {
    SetLastError(12345);
    EXPECT_EQ(Win32FromErrno(test.error), test.code) << "errno " << test.error;
    EXPECT_EQ(GetLastError(), 12345u);  // a helper never touches the last error
  }
}

TEST(SystemMessageTest, ReportLineCarriesTextAndQuotedPath) {
  StdoutCapture capture;
  const uint32_t result = ReportWin32Error(2, L"/no/such%s%d.ffu");
  const std::string output = capture.Finish();
  EXPECT_EQ(result, 2u);
  EXPECT_EQ(output, "!ERROR! The system cannot find the file specified.\r\n\"/no/such%s%d.ffu\"\n");
}

TEST(SystemMessageTest, ReportWithZeroTakesTheLastError) {
  StdoutCapture capture;
  SetLastError(ERROR_SHARING_VIOLATION);
  const uint32_t result = ReportWin32Error(0);
  const std::string output = capture.Finish();
  EXPECT_EQ(result, 32u);
  EXPECT_EQ(output,
            "!ERROR! The process cannot access the file because it is being used by another "
            "process.\r\n\n");
}

TEST(SystemMessageTest, LastErrorIsPerThread) {
  SetLastError(5);
  DWORD seenInThread = 99;
  std::thread other([&seenInThread] {
    seenInThread = GetLastError();
    SetLastError(87);
  });
  other.join();
  EXPECT_EQ(seenInThread, 0u);
  EXPECT_EQ(GetLastError(), 5u);
}
}  // namespace
