#include "handle.h"

#include <set>

namespace {
// The device handles of this process, so that a detach can tell whether the
// disk is still held, as Windows does.
std::mutex deviceHandlesLock;
std::multiset<std::string> deviceHandles;
}  // namespace

HANDLE NewHandle(HandleKind kind, int fd, const std::string& path) {
  LinuxHandle* handle = new LinuxHandle;
  handle->kind = kind;
  handle->fd = fd;
  handle->path = path;
  if (kind == HandleKind::kDevice) {
    std::lock_guard<std::mutex> guard(deviceHandlesLock);
    deviceHandles.insert(path);
  }
  return handle;
}

LinuxHandle* HandleOf(HANDLE handle, HandleKind kind) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  LinuxHandle* linuxHandle = static_cast<LinuxHandle*>(handle);
  return linuxHandle->kind == kind ? linuxHandle : nullptr;
}

void DeleteHandle(LinuxHandle* handle) {
  if (handle->kind == HandleKind::kDevice) {
    std::lock_guard<std::mutex> guard(deviceHandlesLock);
    auto held = deviceHandles.find(handle->path);
    if (held != deviceHandles.end()) deviceHandles.erase(held);
  }
  delete handle;
}

bool DeviceHandleOpen(const std::string& devicePath) {
  std::lock_guard<std::mutex> guard(deviceHandlesLock);
  return deviceHandles.count(devicePath) != 0;
}
