#include "handle.h"

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
