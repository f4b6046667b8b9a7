#include "inode_flags.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <unistd.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "support/runtime/errors.h"

DWORD InodeFlagAttributes(int fd) {
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return 0;
  DWORD attributes = 0;
  if ((flags & FS_COMPR_FL) != 0) attributes |= FILE_ATTRIBUTE_COMPRESSED;
  if ((flags & FS_ENCRYPT_FL) != 0) attributes |= FILE_ATTRIBUTE_ENCRYPTED;
  return attributes;
}

DWORD InodeFlagAttributesOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return 0;
  const DWORD attributes = InodeFlagAttributes(fd);
  close(fd);
  return attributes;
}

DWORD SetInodeCompression(int fd, bool compressed) {
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
    return errno == ENOTTY || errno == EOPNOTSUPP ? ERROR_INVALID_FUNCTION : Win32FromErrno(errno);
  const int wanted = compressed ? (flags | FS_COMPR_FL) : (flags & ~FS_COMPR_FL);
  if (wanted == flags) return ERROR_SUCCESS;
  if (ioctl(fd, FS_IOC_SETFLAGS, &wanted) != 0)
    return errno == ENOTTY || errno == EOPNOTSUPP ? ERROR_INVALID_FUNCTION : Win32FromErrno(errno);
  return ERROR_SUCCESS;
}
