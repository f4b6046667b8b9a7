// Files that take their name only once they are complete: an unnamed file in
// a folder opened once, linked to its name in that folder at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "last_error.h"
#include "platform.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/path_errors.h"
#include "support/runtime/text.h"

namespace {
// The folder part of a path and the name in it.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t last = path.find_last_of('/');
  folder = last == std::string::npos ? "." : last == 0 ? "/" : path.substr(0, last);
  name = last == std::string::npos ? path : path.substr(last + 1);
}

// A named file where the file system has no unnamed ones; closing its handle
// removes it from the held folder, if the name still leads to it.
int CreateNamed(int folder, const std::string& name, LinuxHandle& handle) {
  const int fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0644);
  struct stat status {};
  if (fd < 0) return -1;
  if (fstat(fd, &status) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  handle.removeFolder = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  handle.removeName = name;
  handle.removeDevice = status.st_dev;
  handle.removeInode = status.st_ino;
  return fd;
}

// Returns: a Win32 code.
DWORD Create(const std::string& path, int& folder, HANDLE& file) {
  std::string folderPath, name;
  SplitPath(path, folderPath, name);
  if (name.empty() || name == "." || name == "..") return ERROR_INVALID_NAME;
  folder = open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return Win32FromPathErrno(errno, path);
  struct stat status {};
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) return ERROR_FILE_EXISTS;
  if (errno != ENOENT) return Win32FromErrno(errno);
  LinuxHandle made;
  int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
    fd = CreateNamed(folder, name, made);
  if (fd < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno);
  file = NewHandle(HandleKind::kFile, fd, path);
  LinuxHandle* handle = static_cast<LinuxHandle*>(file);
  handle->removeFolder = made.removeFolder;
  handle->removeName = made.removeName;
  handle->removeDevice = made.removeDevice;
  handle->removeInode = made.removeInode;
  return ERROR_SUCCESS;
}
}  // namespace

HANDLE CreateUnnamedFile(const wchar_t* path, HANDLE* folder) {
  *folder = INVALID_HANDLE_VALUE;
  int folderFd = -1;
  HANDLE file = INVALID_HANDLE_VALUE;
  const DWORD code = path[0] == L'\0' ? ERROR_PATH_NOT_FOUND : Create(ToUtf8(path), folderFd, file);
  if (code != ERROR_SUCCESS) {
    if (folderFd >= 0) close(folderFd);
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  *folder = NewHandle(HandleKind::kFolder, folderFd, ToUtf8(path));
  return file;
}

BOOL NameUnnamedFile(HANDLE folder, HANDLE file, const wchar_t* path) {
  LinuxHandle* held = HandleOf(folder, HandleKind::kFolder);
  LinuxHandle* made = HandleOf(file, HandleKind::kFile);
  if (held == nullptr || made == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (made->removeFolder >= 0) {  // named already: it stays
    close(made->removeFolder);
    made->removeFolder = -1;
    return TRUE;
  }
  std::string folderPath, name;
  SplitPath(ToUtf8(path), folderPath, name);
  // Linking by the descriptor itself needs a privilege; its /proc name does not.
  if (linkat(made->fd, "", held->fd, name.c_str(), AT_EMPTY_PATH) == 0) return TRUE;
  if (errno == ENOENT || errno == EPERM) {
    const std::string self = "/proc/self/fd/" + std::to_string(made->fd);
    if (linkat(AT_FDCWD, self.c_str(), held->fd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return TRUE;
  }
  return FailWith(errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno));
}
