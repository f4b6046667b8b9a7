// CloseHandle for every kind of handle the layer gives out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "last_error.h"
#include "support/runtime/handle.h"

BOOL CloseHandle(HANDLE object) {
  if (object == nullptr || object == INVALID_HANDLE_VALUE) return FailWith(ERROR_INVALID_HANDLE);
  LinuxHandle* handle = static_cast<LinuxHandle*>(object);
  if (handle->kind == HandleKind::kConsole) return TRUE;  // standard output stays open
  // A thread runs on when its handle is closed, as on Windows.
  if (handle->thread.joinable()) handle->thread.detach();
  if (handle->fd >= 0) close(handle->fd);
  if (handle->removeFolder >= 0) {
    struct stat status {};
    if (fstatat(handle->removeFolder, handle->removeName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_dev == handle->removeDevice && status.st_ino == handle->removeInode)
      unlinkat(handle->removeFolder, handle->removeName.c_str(), 0);
    close(handle->removeFolder);
  }
  DeleteHandle(handle);
  return TRUE;
}
