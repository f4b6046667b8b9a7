#include "handle.h"

HANDLE NewHandle(HandleKind kind, int fd, const std::string& path) {
  LinuxHandle* handle = new LinuxHandle;
  handle->kind = kind;
  handle->fd = fd;
  handle->path = path;
  return handle;
}

LinuxHandle* HandleOf(HANDLE handle, HandleKind kind) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  LinuxHandle* linuxHandle = static_cast<LinuxHandle*>(handle);
  if (linuxHandle->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return linuxHandle;
}
