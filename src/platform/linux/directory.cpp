#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>

#include "support/errors.h"
#include "support/handle.h"
#include "support/path_errors.h"
#include "support/text.h"

namespace {
constexpr DWORD kAttributeReadOnly = 0x1;
constexpr DWORD kAttributeDirectory = 0x10;
constexpr DWORD kAttributeReparsePoint = 0x400;
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

FILETIME FileTimeOf(const timespec& time) {
  const uint64_t ticks = kUnixEpochTicks + static_cast<uint64_t>(time.tv_sec) * 10000000ull +
                         static_cast<uint64_t>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& status) {
  DWORD attributes = 0;
  if (S_ISDIR(status.st_mode)) attributes |= kAttributeDirectory;
  if (S_ISLNK(status.st_mode)) attributes |= kAttributeReparsePoint;
  if ((status.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

void FillFindData(const std::string& path, const struct stat& status,
                  WIN32_FIND_DATAW& data) {
  data = WIN32_FIND_DATAW{};
  data.dwFileAttributes = AttributesOf(status);
  data.ftCreationTime = FileTimeOf(status.st_ctim);
  data.ftLastAccessTime = FileTimeOf(status.st_atim);
  data.ftLastWriteTime = FileTimeOf(status.st_mtim);
  const uint64_t size = S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
  data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(size);
  const size_t slash = path.rfind('/');
  const std::wstring name = FromUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
  const size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  wmemcpy(data.cFileName, name.data(), length);
  data.cFileName[length] = L'\0';
}
}  // namespace

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData) {
  if (fileName == nullptr || findFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = ToUtf8(fileName);
  // The search names one entry: a path ending in a separator names none.
  if (path.empty() || path.back() == '/') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    SetLastErrorForPath(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(path, status, *findFileData);
  return NewHandle(HandleKind::Find, -1, path);
}

BOOL FindClose(HANDLE findFile) {
  LinuxHandle* handle = HandleOf(findFile, HandleKind::Find);
  if (handle == nullptr) return FALSE;
  delete handle;
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = ToUtf8(fileName);
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);  // folders are not deleted as files
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastErrorForPath(errno, path);
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes) {
  (void)securityAttributes;
  if (pathName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = ToUtf8(pathName);
  if (mkdir(path.c_str(), 0755) != 0) {
    const int error = errno;
    if (error == ENOENT) SetLastError(ERROR_PATH_NOT_FOUND);
    else SetLastErrorFromErrno(error);
    return FALSE;
  }
  return TRUE;
}
