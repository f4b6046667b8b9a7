#include "temp_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "run_owner.h"
#include "support/runtime/errors.h"
#include "support/runtime/unique_fd.h"

namespace {
constexpr char kFolderPrefix[] = "brackwen-";
// The folder of the machine's locks: in the folder of the running system's
// state, which only root can write to.
constexpr char kMachineLockBase[] = "/run";
constexpr char kMachineLockName[] = "brackwen";
// Deeper than any real path; ends the walk should ".." never reach the root.
constexpr int kMaxDepth = 4096;

std::string BaseFolder() {
  const char* variable = getenv("TMPDIR");
  std::string base = variable != nullptr && variable[0] != '\0' ? variable : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

std::string FolderName() { return kFolderPrefix + std::to_string(geteuid()); }

DWORD Refuse(DWORD code, const std::string& why, std::string* reason) {
  *reason = why;
  return code;
}

DWORD RefuseErrno(const char* what, int error, std::string* reason) {
  return Refuse(Win32FromErrno(error), std::string(what) + " (" + strerror(error) + ")", reason);
}

// Another user could add to this folder or rename what is in it: it is
// theirs, or writable by group or others without the sticky bit.
bool OthersCanChange(const struct stat& status) {
  if (status.st_uid != 0 && status.st_uid != geteuid()) return true;
  return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0;
}

// Walks from the base folder up to the root by "..", so that the folders
// checked are the ones the kernel resolves, whatever links the path held.
DWORD CheckFoldersAbove(int baseFd, std::string* reason) {
  UniqueFd current(dup(baseFd));
  for (int depth = 0; current.Valid() && depth < kMaxDepth; ++depth) {
    struct stat status {};
    if (fstat(current.Get(), &status) != 0)
      return RefuseErrno("a folder above it cannot be read", errno, reason);
    if (OthersCanChange(status))
      return Refuse(ERROR_ACCESS_DENIED, "a folder above it can be changed by other users", reason);
    UniqueFd parent(openat(current.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat above {};
    if (!parent.Valid() || fstat(parent.Get(), &above) != 0)
      return RefuseErrno("a folder above it cannot be read", errno, reason);
    if (above.st_dev == status.st_dev && above.st_ino == status.st_ino) return ERROR_SUCCESS;
    current = std::move(parent);
  }
  return Refuse(ERROR_PATH_NOT_FOUND, "the folders above it cannot be followed", reason);
}

// The checks on the opened folder itself; its mode is then set as wanted.
DWORD CheckOpenedFolder(int fd, mode_t wanted, std::string* reason) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return RefuseErrno("it cannot be read", errno, reason);
  if (status.st_uid != geteuid())
    return Refuse(ERROR_ACCESS_DENIED,
                  "it belongs to user " + std::to_string(status.st_uid) + ", not to user " +
                      std::to_string(geteuid()),
                  reason);
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Refuse(ERROR_ACCESS_DENIED, "other users can write to it", reason);
  if (wanted != 0 && (status.st_mode & 07777) != wanted && fchmod(fd, wanted) != 0)
    return RefuseErrno("its mode cannot be set", errno, reason);
  return ERROR_SUCCESS;
}

// Makes `name` in `base` when `make` says so and it is missing, then checks
// it as the private folder is checked; `wanted` is its mode (0: left as it is).
DWORD PrepareOwnFolder(const std::string& base, const std::string& name, bool make, mode_t wanted,
                       std::string* reason) {
  UniqueFd parent(open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!parent.Valid()) {
    const int error = errno;
    return Refuse(
        error == ENOENT ? ERROR_PATH_NOT_FOUND : Win32FromErrno(error),
        std::string("the folder it belongs in cannot be opened (") + strerror(error) + ")", reason);
  }
  DWORD code = CheckFoldersAbove(parent.Get(), reason);
  if (code != ERROR_SUCCESS) return code;
  if (make && mkdirat(parent.Get(), name.c_str(), 0700) != 0 && errno != EEXIST)
    return RefuseErrno("it cannot be made", errno, reason);
  struct stat status {};
  if (fstatat(parent.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
    return RefuseErrno("it cannot be read", errno, reason);
  if (S_ISLNK(status.st_mode)) return Refuse(ERROR_DIRECTORY, "it is a symbolic link", reason);
  if (!S_ISDIR(status.st_mode)) return Refuse(ERROR_DIRECTORY, "it is not a folder", reason);
  // What is checked from here on is the folder opened, whatever the name
  // points to by now.
  UniqueFd folder(
      openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.Valid()) {
    if (errno == ELOOP || errno == ENOTDIR)
      return Refuse(ERROR_DIRECTORY, "it is not a folder", reason);
    return RefuseErrno("it cannot be opened", errno, reason);
  }
  return CheckOpenedFolder(folder.Get(), wanted, reason);
}
}  // namespace

std::string PrivateTempFolderPath() {
  const std::string base = BaseFolder();
  return base + (base == "/" ? "" : "/") + FolderName() + "/";
}

DWORD PreparePrivateTempFolder(std::string* reason) {
  const mode_t wanted = CurrentRunOwner().forSudoUser ? 0711 : 0700;
  return PrepareOwnFolder(BaseFolder(), FolderName(), true, wanted, reason);
}

bool IsPrivateFolderOfThisUser(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const size_t slash = folder.rfind('/');
  if (slash == std::string::npos || folder.substr(slash + 1) != FolderName()) return false;
  std::string reason;
  return PrepareOwnFolder(slash == 0 ? "/" : folder.substr(0, slash), FolderName(), false, 0,
                          &reason) == ERROR_SUCCESS;
}

std::string MachineLockFolderPath() {
  return std::string(kMachineLockBase) + "/" + kMachineLockName + "/";
}

DWORD PrepareMachineLockFolder(std::string* reason) {
  return PrepareOwnFolder(kMachineLockBase, kMachineLockName, true, 0700, reason);
}
