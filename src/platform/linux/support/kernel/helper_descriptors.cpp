#include "helper_descriptors.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {
void MarkCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  if (flags >= 0 && (flags & FD_CLOEXEC) == 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}
}  // namespace

void CloseDescriptorsOnExec() {
  if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
  // Kernels before 5.11: each open descriptor in turn.
  DIR* open = opendir("/proc/self/fd");
  if (open == nullptr) return;
  const int own = dirfd(open);
  while (dirent* entry = readdir(open)) {
    char* end = nullptr;
    const long fd = strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0' && fd > 2 && fd != own)
      MarkCloseOnExec(static_cast<int>(fd));
  }
  closedir(open);
}
