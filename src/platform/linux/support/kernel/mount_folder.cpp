#include "mount_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "support/runtime/errors.h"

DWORD MountFolder::Open(const std::string& path) {
  folder = UniqueFd(open(path.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) return ERROR_SUCCESS;
  // O_PATH with O_NOFOLLOW opens a link as itself, which O_DIRECTORY refuses.
  if (errno == ENOTDIR || errno == ELOOP) return ERROR_DIRECTORY;
  return Win32FromErrno(errno);
}

DWORD MountFolder::CheckEmpty() const {
  struct stat status {};
  if (fstat(folder.Get(), &status) != 0) return Win32FromErrno(errno);
  if (status.st_uid != geteuid()) return ERROR_ACCESS_DENIED;
  // A folder that already carries a mount is taken, even when the mounted
  // file system is empty.
  if (IsMountRoot(folder.Get())) return ERROR_DIR_NOT_EMPTY;
  const int listing = openat(folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return Win32FromErrno(errno);
  DIR* directory = fdopendir(listing);
  if (directory == nullptr) {
    close(listing);
    return Win32FromErrno(errno);
  }
  DWORD code = ERROR_SUCCESS;
  while (dirent* entry = readdir(directory)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      code = ERROR_DIR_NOT_EMPTY;
      break;
    }
  }
  closedir(directory);
  return code;
}

DWORD MountFolder::MoveMountHere(int mountRoot) const {
  if (move_mount(mountRoot, "", folder.Get(), "",
                 MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) == 0)
    return ERROR_SUCCESS;
  if (errno != ENOSYS) return Win32FromErrno(errno);
  // Kernels before the descriptor mount calls still resolve /proc/self/fd
  // names to the opened files, not to their paths.
  if (mount(DescriptorPath(mountRoot).c_str(), DescriptorPath(folder.Get()).c_str(), nullptr,
            MS_MOVE, nullptr) == 0)
    return ERROR_SUCCESS;
  return Win32FromErrno(errno);
}

unsigned MountIdOf(int fd) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string key;
  while (info >> key) {
    if (key == "mnt_id:") {
      unsigned id = 0;
      info >> id;
      return id;
    }
    info.ignore(4096, '\n');
  }
  return 0;
}

bool IsMountRoot(int fd) {
  const UniqueFd parent(openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!parent.Valid()) return false;
  // ".." of a mount's root leads into the mount below it; only the root of
  // everything is its own parent.
  const unsigned id = MountIdOf(fd);
  return id != 0 && id != MountIdOf(parent.Get());
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }
