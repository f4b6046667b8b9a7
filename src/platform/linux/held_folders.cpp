// Folders held open by their descriptor, reached through its /proc path so
// that a folder renamed or swapped for a link meanwhile is still the one
// worked in.
#include <fcntl.h>

#include <cerrno>
#include <string>

#include "last_error.h"
#include "platform.h"
#include "support/runtime/handle.h"
#include "support/runtime/path_errors.h"
#include "support/runtime/text.h"

HANDLE HoldFolder(const wchar_t* path, bool followLink) {
  const std::string text = ToUtf8(path);
  // O_NOFOLLOW opens a link itself, which O_DIRECTORY then refuses.
  const int fd =
      open(text.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : Win32FromPathErrno(errno, text));
    return INVALID_HANDLE_VALUE;
  }
  return NewHandle(HandleKind::kFolder, fd, text);
}

std::wstring HeldFolderPath(HANDLE folder) {
  const LinuxHandle* held = HandleOf(folder, HandleKind::kFolder);
  if (held == nullptr) return L"";
  return FromUtf8("/proc/self/fd/" + std::to_string(held->fd));
}
