#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform.h"
#include "support/runtime/errors.h"
#include "support/runtime/text.h"
#include "support/users/temp_folder.h"

namespace {
// The number part of a temporary name has 16 bits, as on the system.
constexpr unsigned kUniqueRange = 0x10000;

std::wstring TempName(const std::wstring& folder, const wchar_t* prefix, unsigned number) {
  wchar_t digits[16];
  swprintf(digits, 16, L"%X", number);
  std::wstring name = folder;
  if (!name.empty() && name.back() != L'/') name += L'/';
  if (prefix != nullptr) name.append(prefix, wcsnlen(prefix, 3));
  return name + digits + L".tmp";
}

unsigned StartNumber() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const unsigned seed = static_cast<unsigned>(now.tv_nsec / 1000) ^
                        static_cast<unsigned>(now.tv_sec) ^
                        (static_cast<unsigned>(getpid()) << 4);
  return seed % kUniqueRange;
}

bool IsFolder(const std::wstring& path) {
  struct stat status {};
  return stat(ToUtf8(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Returns: ERROR_SUCCESS, or ERROR_BUFFER_OVERFLOW for a name of MAX_PATH
// units or more.
DWORD StoreName(const std::wstring& name, LPWSTR tempFileName) {
  if (name.size() >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;
  wmemcpy(tempFileName, name.c_str(), name.size() + 1);
  return ERROR_SUCCESS;
}

// Names a temporary file in `folder` into tempFileName, and makes it unless
// the caller gave its number. Returns: a Win32 code; *number the name's number.
DWORD MakeTempName(const std::wstring& folder, LPCWSTR prefixString, unsigned unique,
                   LPWSTR tempFileName, unsigned* number) {
  if (unique != 0) {
    // A caller's number only forms the name; no file is made.
    *number = unique % kUniqueRange == 0 ? 1 : unique % kUniqueRange;
    return StoreName(TempName(folder, prefixString, *number), tempFileName);
  }
  if (!IsFolder(folder.empty() ? L"." : folder)) return ERROR_DIRECTORY;
  unsigned next = StartNumber();
  for (unsigned tries = 0; tries < kUniqueRange; ++tries, next = (next + 1) % kUniqueRange) {
    if (next == 0) continue;
    const std::wstring name = TempName(folder, prefixString, next);
    const DWORD code = StoreName(name, tempFileName);
    if (code != ERROR_SUCCESS) return code;
    const int fd = open(ToUtf8(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      *number = next;
      return ERROR_SUCCESS;
    }
    if (errno != EEXIST) return Win32FromErrno(errno);
  }
  return ERROR_FILE_EXISTS;
}
}  // namespace

// The folder is the calling user's own (see temp_folder.h). A folder that
// fails its checks is never answered; the line printed says which folder and
// why, since the caller only learns a code.
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
  const std::wstring path = FromUtf8(PrivateTempFolderPath());
  if (path.size() + 1 > bufferLength) return static_cast<DWORD>(path.size() + 1);
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string reason;
  const DWORD code = PreparePrivateTempFolder(&reason);
  if (code != ERROR_SUCCESS) {
    PrintWide(L"!ERROR! The temporary folder '%s' is refused: %s.\n", PrintableName(path).c_str(),
              FromUtf8(reason).c_str());
    SetLastError(code);
    return 0;
  }
  wmemcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

unsigned GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, unsigned unique,
                          LPWSTR tempFileName) {
  if (pathName == nullptr || tempFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  unsigned number = 0;
  const DWORD code = MakeTempName(pathName, prefixString, unique, tempFileName, &number);
  if (code == ERROR_SUCCESS) return number;
  SetLastError(code);
  return 0;
}

bool IsPrivateTempFolder(const std::wstring& folder) {
  return IsPrivateFolderOfThisUser(ToUtf8(folder));
}
