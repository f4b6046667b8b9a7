#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cwchar>

#include "last_error.h"
#include "support/kernel/inode_flags.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/path_errors.h"
#include "support/runtime/text.h"

namespace {
// The longest folder path the system makes: MAX_PATH less the terminator and
// room for an 8.3 file name in it.
constexpr size_t kMaxFolderPathUnits = MAX_PATH - 13;
}  // namespace

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
// Whether `name` matches `pattern`, where '*' stands for any run of
// characters and '?' for any one, as in the system's file searches.
bool WildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The names in `folder` that match `pattern`, in name order.
std::vector<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
  if (directory == nullptr) return names;
  while (dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && WildcardMatch(pattern, name)) names.push_back(name);
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

// Fills the find data with the next match that still exists. Returns: false
// when there is none (FindNextFileW's error 18).
bool NextMatch(LinuxHandle& search, WIN32_FIND_DATAW& data) {
  while (!search.found.empty()) {
    const std::string path = search.path + search.found.front();
    search.found.erase(search.found.begin());
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0) {
      FillFindData(path, status, data);
      return true;
    }
  }
  return false;
}

// A search whose last part holds '*' or '?': every match in its folder. Here
// such a name may also be a file's own (Windows allows neither character in
// a name); that file comes first, even from a folder that cannot be listed.
HANDLE FindMatches(const std::string& path, WIN32_FIND_DATAW& data) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  HANDLE handle = NewHandle(HandleKind::kFind, -1, folder);
  LinuxHandle* search = static_cast<LinuxHandle*>(handle);
  const std::string literal = path.substr(folder.size());
  search->found = MatchingNames(folder, literal);
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0) {
    search->found.erase(std::remove(search->found.begin(), search->found.end(), literal),
                        search->found.end());
    search->found.insert(search->found.begin(), literal);
  }
  if (NextMatch(*search, data)) return handle;
  delete search;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

// Compressed and encrypted, from the kernel's flags of a file or folder that
// can be opened for reading.
DWORD FlagAttributes(const std::string& path, const struct stat& status) {
  if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) return 0;
  return InodeFlagAttributesOf(path);
}
}  // namespace

// Follows links, as the open of the same path does.
DWORD GetFileAttributesW(LPCWSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string path = ToUtf8(fileName);
  struct stat status {};
  if (path.empty() || stat(path.c_str(), &status) != 0) {
    SetLastError(Win32FromPathErrno(path.empty() ? ENOENT : errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = AttributesOf(status);
  const DWORD flags = FlagAttributes(path, status);
  if (flags == 0) return attributes;
  return (attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes) | flags;
}

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
  const size_t lastPart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
  if (path.find_first_of("*?", lastPart) != std::string::npos) {
    return FindMatches(path, *findFileData);
  }
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    SetLastError(Win32FromPathErrno(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(path, status, *findFileData);
  return NewHandle(HandleKind::kFind, -1, path);
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData) {
  LinuxHandle* handle = HandleOf(findFile, HandleKind::kFind);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (findFileData == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return NextMatch(*handle, *findFileData) ? TRUE : FailWith(ERROR_NO_MORE_FILES);
}

BOOL FindClose(HANDLE findFile) {
  LinuxHandle* handle = HandleOf(findFile, HandleKind::kFind);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  delete handle;
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
  if (fileName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string path = ToUtf8(fileName);
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);  // folders are not deleted as files
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(Win32FromPathErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes) {
  (void)securityAttributes;
  if (pathName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  // The system makes folders of up to MAX_PATH less room for an 8.3 name.
  if (wcslen(pathName) > kMaxFolderPathUnits) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  const std::string path = ToUtf8(pathName);
  if (mkdir(path.c_str(), 0755) != 0) {
    const int error = errno;
    if (error == ENOENT) SetLastError(ERROR_PATH_NOT_FOUND);
    else SetLastError(Win32FromErrno(error));
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
  if (pathName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (rmdir(ToUtf8(pathName).c_str()) != 0) {
    const int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) SetLastError(ERROR_DIR_NOT_EMPTY);
    else SetLastError(Win32FromErrno(error));
    return FALSE;
  }
  return TRUE;
}
