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
#include "support/users/temp_folder.h"
#include "support/runtime/text.h"

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

bool StoreName(const std::wstring& name, LPWSTR tempFileName) {
  if (name.size() >= MAX_PATH) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return false;
  }
  wmemcpy(tempFileName, name.c_str(), name.size() + 1);
  return true;
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
    PrintWide(L"!ERROR! The temporary folder '%s' is refused: %s.\n", path.c_str(),
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
  const std::wstring folder = pathName;
  if (unique != 0) {
    // A caller's number only forms the name; no file is made.
    unique %= kUniqueRange;
    if (unique == 0) unique = 1;
    return StoreName(TempName(folder, prefixString, unique), tempFileName) ? unique : 0;
  }
  if (!IsFolder(folder.empty() ? L"." : folder)) {
    SetLastError(ERROR_DIRECTORY);
    return 0;
  }
  unsigned number = StartNumber();
  for (unsigned tries = 0; tries < kUniqueRange; ++tries, number = (number + 1) % kUniqueRange) {
    if (number == 0) continue;
    const std::wstring name = TempName(folder, prefixString, number);
    if (!StoreName(name, tempFileName)) return 0;
    const int fd = open(ToUtf8(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return number;
    }
    if (errno != EEXIST) {
      SetLastError(Win32FromErrno(errno));
      return 0;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

bool IsPrivateTempFolder(const std::wstring& folder) {
  return IsPrivateFolderOfThisUser(ToUtf8(folder));
}
