#include "staged_mount.h"

#include <dirent.h>
#include <fcntl.h>
#include <libmount/libmount.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "helper_descriptors.h"
#include "support/runtime/errors.h"
#include "support/users/temp_folder.h"

namespace {
constexpr char kStagingPrefix[] = "staging-";
constexpr char kStagingName[] = "staging-XXXXXX";
constexpr char kLockSuffix[] = ".lock";
// More mounts than a staging folder ever carries: its own and the volume's.
constexpr int kMaxStagedMounts = 4;

// The Win32 code of a failed libmount operation.
DWORD MountFailure(libmnt_context* context, int result) {
  if (mnt_context_syscall_called(context)) {
    const int error = mnt_context_get_syscall_errno(context);
    if (error != 0) return Win32FromErrno(error);
  }
  if (mnt_context_helper_executed(context)) return ERROR_UNRECOGNIZED_VOLUME;
  return result < 0 ? Win32FromErrno(-result) : ERROR_GEN_FAILURE;
}

// One output of the process sent to nowhere while a FUSE driver starts: some
// print their diagnostics even when all goes well, into the run's own output.
// A failure still reaches the caller as a code.
class SilencedOutput {
 public:
  SilencedOutput(FILE* stream, int fd, bool silence) : fd(fd) {
    if (!silence) return;
    fflush(stream);
    saved = UniqueFd(fcntl(fd, F_DUPFD_CLOEXEC, 3));
    const UniqueFd nowhere(open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (saved.Valid() && nowhere.Valid()) dup2(nowhere.Get(), fd);
  }
  ~SilencedOutput() {
    if (saved.Valid()) dup2(saved.Get(), fd);
  }

 private:
  int fd;
  UniqueFd saved;
};

DWORD MountByPath(const std::string& device, const std::string& folder, const std::string& type,
                  const std::string& options) {
  libmnt_context* context = mnt_new_context();
  if (context == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD code = ERROR_SUCCESS;
  if (mnt_context_set_source(context, device.c_str()) != 0 ||
      mnt_context_set_target(context, folder.c_str()) != 0 ||
      mnt_context_set_fstype(context, type.c_str()) != 0 ||
      mnt_context_set_options(context, options.c_str()) != 0) {
    code = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    CloseDescriptorsOnExec();  // the mount helper gets 0-2 only
    const bool fuse = type.compare(0, 5, "fuse.") == 0;
    const SilencedOutput quietOut(stdout, STDOUT_FILENO, fuse);
    const SilencedOutput quietErr(stderr, STDERR_FILENO, fuse);
    const int result = mnt_context_mount(context);
    if (result != 0 || mnt_context_get_status(context) != 1) code = MountFailure(context, result);
  }
  mnt_free_context(context);
  return code;
}

// A staging folder whose lock file nobody holds belonged to a run that ended
// without removing it (killed midway): its mounts, the folder and the lock
// file go. A folder without a lock file is left alone.
void RemoveAbandonedStagingFolders(const std::string& folder) {
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return;
  while (dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.compare(0, sizeof kStagingPrefix - 1, kStagingPrefix) != 0 ||
        name.find('.') != std::string::npos)
      continue;
    const std::string path = folder + name;
    const std::string lockPath = path + kLockSuffix;
    const UniqueFd held(open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!held.Valid() || flock(held.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    for (int i = 0; i < kMaxStagedMounts && umount2(path.c_str(), MNT_DETACH | UMOUNT_NOFOLLOW) == 0;
         ++i) {
    }
    rmdir(path.c_str());
    unlink(lockPath.c_str());
  }
  closedir(directory);
}

// A staging folder in the private temporary folder, bound onto itself and
// made private: a mount whose parent is shared with other mount namespaces
// cannot be moved, and the folder's own mount is never shared. Its lock file,
// locked while the folder exists, tells later runs that it is in use.
class StagingFolder {
 public:
  ~StagingFolder() {
    if (bound) umount2(path.c_str(), MNT_DETACH);
    if (!path.empty()) rmdir(path.c_str());
    if (lock.Valid()) unlink((path + kLockSuffix).c_str());
  }

  DWORD Make() {
    std::string reason;
    DWORD code = PreparePrivateTempFolder(&reason);
    if (code != ERROR_SUCCESS) return code;
    RemoveAbandonedStagingFolders(PrivateTempFolderPath());
    const std::string pattern = PrivateTempFolderPath() + kStagingName;
    std::vector<char> name(pattern.c_str(), pattern.c_str() + pattern.size() + 1);
    if (mkdtemp(name.data()) == nullptr) return Win32FromErrno(errno);
    path = name.data();
    const std::string lockPath = path + kLockSuffix;
    lock = UniqueFd(
        open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock.Valid() || flock(lock.Get(), LOCK_EX) != 0) return Win32FromErrno(errno);
    if (mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return Win32FromErrno(errno);
    bound = true;
    if (mount(nullptr, path.c_str(), nullptr, MS_PRIVATE, nullptr) != 0)
      return Win32FromErrno(errno);
    const UniqueFd root(open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root.Valid()) return Win32FromErrno(errno);
    ownMountId = MountIdOf(root.Get());
    return ownMountId != 0 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
  }

  // Opens the root of the mount made on the staging folder; false when no
  // mount sits on it (a helper that reported success without mounting).
  bool OpenMounted(UniqueFd* root) const {
    *root = UniqueFd(open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return root->Valid() && MountIdOf(root->Get()) != ownMountId && IsMountRoot(root->Get());
  }

  const std::string& Path() const { return path; }

 private:
  std::string path;
  UniqueFd lock;
  bool bound = false;
  unsigned ownMountId = 0;
};
}  // namespace

DWORD MountVolumeOnFolder(const std::string& device, const std::string& type,
                          const std::string& options, const MountFolder& target) {
  StagingFolder staging;
  DWORD code = staging.Make();
  if (code != ERROR_SUCCESS) return code;
  code = MountByPath(device, staging.Path(), type, options);
  if (code != ERROR_SUCCESS) return code;
  UniqueFd root;
  if (!staging.OpenMounted(&root)) return ERROR_UNRECOGNIZED_VOLUME;
  code = target.MoveMountHere(root.Get());
  // A mount that could not be moved is taken away with the staging folder.
  if (code != ERROR_SUCCESS) umount2(DescriptorPath(root.Get()).c_str(), MNT_DETACH);
  return code;
}

DWORD UnmountEntry(const MountEntry& entry) {
  const size_t slash = entry.mountPoint.rfind('/');
  if (slash == std::string::npos || slash + 1 == entry.mountPoint.size())
    return ERROR_NOT_A_REPARSE_POINT;
  const std::string name = entry.mountPoint.substr(slash + 1);
  const UniqueFd parent(open(slash == 0 ? "/" : entry.mountPoint.substr(0, slash).c_str(),
                             O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!parent.Valid()) return Win32FromErrno(errno);
  {
    // The folder in that parent must be the root of that very mount; a
    // folder moved or replaced meanwhile is not unmounted by its name. The
    // descriptor is closed again before unmounting, as it would keep the
    // mount busy.
    const UniqueFd root(
        openat(parent.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root.Valid()) return ERROR_NOT_A_REPARSE_POINT;
    if (MountIdOf(root.Get()) != entry.id || !IsMountRoot(root.Get()))
      return ERROR_NOT_A_REPARSE_POINT;
  }
  // The parent stays the opened one; only the last name is looked up again,
  // in it, without following a link.
  const std::string path = DescriptorPath(parent.Get()) + "/" + name;
  if (umount2(path.c_str(), UMOUNT_NOFOLLOW) != 0) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}
