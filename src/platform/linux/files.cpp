#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "last_error.h"
#include "support/kernel/devices.h"
#include "support/kernel/loop_device.h"
#include "support/kernel/partition_volumes.h"
#include "support/runtime/device_prefix.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/path_errors.h"
#include "support/runtime/text.h"

namespace {
int OpenFlags(DWORD desiredAccess, DWORD flagsAndAttributes) {
  const bool reads = (desiredAccess & GENERIC_READ) != 0;
  const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
  // Non-blocking only while opening: a FIFO would otherwise wait at the open
  // for a writer. Cleared again once the file is open.
  int flags = O_CLOEXEC | O_NONBLOCK;
  flags |= writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
  return flags;
}

// Sharing: a holder that shares nothing takes the file's lock exclusively,
// every other holder takes it shared. So nobody else can open a file that
// is held without sharing, and a file that others hold cannot be opened
// without sharing: both get error 32.
// Opens of other programs take no lock: a lease tells whether anyone else
// has the file open at all (a write lease) or open for writing (a read
// lease). Held for the moment of the check only. Where leases are not to be
// had (another user's file, a file system without them) the locks decide.
bool OthersConflict(int fd, DWORD desiredAccess, DWORD shareMode) {
  int lease = -1;
  if ((shareMode & FILE_SHARE_READ) == 0) lease = F_WRLCK;
  else if ((shareMode & FILE_SHARE_WRITE) == 0 && (desiredAccess & GENERIC_WRITE) == 0)
    lease = F_RDLCK;
  if (lease < 0) return false;
  if (fcntl(fd, F_SETLEASE, lease) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
  }
  return errno == EAGAIN || errno == EBUSY;
}

// Returns: ERROR_SUCCESS, or ERROR_SHARING_VIOLATION.
DWORD LockForSharing(int fd, DWORD shareMode) {
  const int operation = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;  // a file system without locks shares everything
  }
  return ERROR_SUCCESS;
}

// Creating an existing file: CREATE_NEW fails with 80; the others succeed
// and report 183, as the system does.
int OpenWithDisposition(const std::string& path, int flags, DWORD disposition,
                        bool& existed) {
  existed = false;
  switch (disposition) {
    case CREATE_NEW:
      return open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
    case OPEN_EXISTING:
      return open(path.c_str(), flags);
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: {
      int fd = open(path.c_str(), flags);
      if (fd >= 0 || errno != ENOENT) {
        existed = fd >= 0;
        return fd;
      }
      return open(path.c_str(), flags | O_CREAT, 0644);
    }
    default:
      errno = EINVAL;
      return -1;
  }
}

// Closes the descriptor of a refused open. Returns: `code`.
DWORD Refuse(int fd, DWORD code) {
  close(fd);
  return code;
}

// Truncates a file that CREATE_ALWAYS found, once the sharing lock is held.
bool Truncate(int fd, const std::string& path, int flags) {
  if ((flags & O_ACCMODE) != O_RDONLY) return ftruncate(fd, 0) == 0;
  const int writer = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (writer < 0) return false;
  close(writer);
  return true;
}

// Opens the file at `path` into *handle. Returns: a Win32 code; on success
// ERROR_ALREADY_EXISTS when a creating disposition found the file.
DWORD OpenFilePath(const std::string& path, DWORD desiredAccess, DWORD shareMode,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE* handle) {
  const int flags = OpenFlags(desiredAccess, flagsAndAttributes);
  bool existed = false;
  const int fd = OpenWithDisposition(path, flags, disposition, existed);
  if (fd < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromPathErrno(errno, path);
  struct stat status {};
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode))
    return Refuse(fd, ERROR_ACCESS_DENIED);  // folders are not opened as files
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
    return Refuse(fd, Win32FromErrno(errno));
  const DWORD shared = LockForSharing(fd, shareMode);
  if (shared != ERROR_SUCCESS) return Refuse(fd, shared);
  if (S_ISREG(status.st_mode) && OthersConflict(fd, desiredAccess, shareMode))
    return Refuse(fd, ERROR_SHARING_VIOLATION);
  if (existed && disposition == CREATE_ALWAYS && !Truncate(fd, path, flags))
    return Refuse(fd, Win32FromErrno(errno));
  if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN)
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *handle = NewHandle(HandleKind::kFile, fd, path);
  return existed && disposition != OPEN_EXISTING ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
}

// The open file or device behind `handle`, or nullptr (the caller's error 6).
LinuxHandle* DescriptorOf(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  LinuxHandle* linuxHandle = static_cast<LinuxHandle*>(handle);
  const bool hasDescriptor =
      linuxHandle->kind == HandleKind::kFile || linuxHandle->kind == HandleKind::kDevice;
  return hasDescriptor && linuxHandle->fd >= 0 ? linuxHandle : nullptr;
}

// Moves the file pointer; a position before the start fails with 131 and
// leaves the pointer where it was. Returns: a Win32 code.
DWORD MovePointer(int fd, int64_t distance, DWORD moveMethod, int64_t& position) {
  off_t base = 0;
  if (moveMethod == FILE_CURRENT) {
    base = lseek(fd, 0, SEEK_CUR);
  } else if (moveMethod == FILE_END) {
    const off_t current = lseek(fd, 0, SEEK_CUR);
    base = lseek(fd, 0, SEEK_END);
    if (current >= 0) lseek(fd, current, SEEK_SET);
  } else if (moveMethod != FILE_BEGIN) {
    return ERROR_INVALID_PARAMETER;
  }
  if (base < 0) return Win32FromErrno(errno);
  int64_t target = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(base), distance, &target))
    return ERROR_INVALID_PARAMETER;
  if (target < 0) return ERROR_NEGATIVE_SEEK;
  if (lseek(fd, target, SEEK_SET) < 0) return Win32FromErrno(errno);
  position = target;
  return ERROR_SUCCESS;
}
enum class Direction { kRead, kWrite };

// As on Windows, a disk's sectors inside a volume whose file system is
// mounted are not written through the disk.
bool IntoMountedVolume(const LinuxHandle& handle, off_t position, DWORD count) {
  if (handle.kind != HandleKind::kDevice || count == 0) return false;
  const int disk = LoopNumberOfPath(handle.path);
  return disk >= 0 && position >= 0 &&
         MountedVolumeOverlaps(disk, static_cast<uint64_t>(position), count);
}

// One read or write of up to `count` bytes: at the file position, or at
// `offset` when it is not negative.
ssize_t MoveOnce(int fd, Direction direction, char* at, size_t count, off_t offset) {
  if (offset < 0)
    return direction == Direction::kRead ? read(fd, at, count) : write(fd, at, count);
  return direction == Direction::kRead ? pread(fd, at, count, offset)
                                       : pwrite(fd, at, count, offset);
}

// The offset an OVERLAPPED gives: -1 without one, and for one beyond what a
// file offset holds.
off_t OffsetOf(const OVERLAPPED* overlapped) {
  if (overlapped == nullptr) return -1;
  const uint64_t offset = (static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset;
  return offset > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<off_t>(offset);
}

// Reads or writes `count` bytes at the file position, or, as Windows does
// for a synchronous handle given an OVERLAPPED, at its offset, after which
// the file position stands past the bytes moved. Goes on after
// interruptions and short transfers. A read that meets the end of the file
// stops there and still succeeds; a write that moves nothing fails as a full
// disk. `done` receives the bytes moved, also on failure.
BOOL Transfer(HANDLE file, void* buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped,
              Direction direction) {
  if (done != nullptr) *done = 0;
  LinuxHandle* handle = DescriptorOf(file);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const off_t offset = OffsetOf(overlapped);
  if ((buffer == nullptr && count > 0) || (overlapped != nullptr && offset < 0))
    return FailWith(ERROR_INVALID_PARAMETER);
  // A device moves data only for the access it was opened with; one opened
  // with none answers queries alone.
  const DWORD needed = direction == Direction::kRead ? GENERIC_READ : GENERIC_WRITE;
  if (handle->kind == HandleKind::kDevice && (handle->access & needed) == 0)
    return FailWith(ERROR_ACCESS_DENIED);
  if (direction == Direction::kWrite &&
      IntoMountedVolume(*handle, offset >= 0 ? offset : lseek(handle->fd, 0, SEEK_CUR), count))
    return FailWith(ERROR_ACCESS_DENIED);
  char* at = static_cast<char*>(buffer);
  DWORD total = 0;
  DWORD code = ERROR_SUCCESS;
  while (total < count) {
    const ssize_t moved =
        MoveOnce(handle->fd, direction, at + total, count - total, offset < 0 ? -1 : offset + total);
    if (moved < 0 && errno == EINTR) continue;
    if (moved == 0 && direction == Direction::kRead) break;
    if (moved <= 0) {
      code = Win32FromErrno(moved == 0 ? ENOSPC : errno);
      break;
    }
    total += static_cast<DWORD>(moved);
  }
  // As on Windows, a read at an offset that finds nothing there fails with
  // the end of the file.
  if (offset >= 0 && direction == Direction::kRead && total == 0 && count > 0 &&
      code == ERROR_SUCCESS)
    code = ERROR_HANDLE_EOF;
  if (offset >= 0) {
    if (lseek(handle->fd, offset + total, SEEK_SET) < 0 && code == ERROR_SUCCESS)
      code = Win32FromErrno(errno);
    overlapped->Internal = 0;
    overlapped->InternalHigh = total;
  }
  if (done != nullptr) *done = total;
  return code == ERROR_SUCCESS ? TRUE : FailWith(code);
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  (void)securityAttributes, (void)templateFile;
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (HasDevicePrefix(fileName)) {
    HANDLE device = INVALID_HANDLE_VALUE;
    const DWORD code = OpenDevicePath(fileName, desiredAccess, flagsAndAttributes, &device);
    if (code != ERROR_SUCCESS) SetLastError(code);
    return device;
  }
  if (fileName[0] == L'\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  SetLastError(OpenFilePath(ToUtf8(fileName), desiredAccess, shareMode, creationDisposition,
                            flagsAndAttributes, &file));
  return file;
}

// A regular file is a disk file; a disk or volume opened by its device name
// is one as well, as on Windows. A block device reached through a file path
// has no such counterpart there and is of no known type.
DWORD GetFileType(HANDLE file) {
  LinuxHandle* handle = DescriptorOf(file);
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (handle->kind == HandleKind::kDevice) return FILE_TYPE_DISK;
  struct stat status {};
  if (fstat(handle->fd, &status) != 0) {
    SetLastError(Win32FromErrno(errno));
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISREG(status.st_mode)) return FILE_TYPE_DISK;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
  if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;
  return FILE_TYPE_UNKNOWN;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
  return Transfer(file, buffer, bytesToRead, bytesRead, overlapped, Direction::kRead);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
  return Transfer(file, const_cast<void*>(buffer), bytesToWrite, bytesWritten, overlapped,
                  Direction::kWrite);
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove,
                      PLARGE_INTEGER newFilePointer, DWORD moveMethod) {
  LinuxHandle* handle = DescriptorOf(file);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  int64_t position = 0;
  const DWORD code = MovePointer(handle->fd, distanceToMove.QuadPart, moveMethod, position);
  if (code != ERROR_SUCCESS) return FailWith(code);
  if (newFilePointer != nullptr) newFilePointer->QuadPart = position;
  return TRUE;
}

// Writes back what the file or device holds in caches, the device's own
// included. As on Windows, a handle not opened for writing fails with 5.
BOOL FlushFileBuffers(HANDLE file) {
  LinuxHandle* handle = DescriptorOf(file);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const int flags = fcntl(handle->fd, F_GETFL);
  if (flags < 0) return FailWith(Win32FromErrno(errno));
  if ((flags & O_ACCMODE) == O_RDONLY) return FailWith(ERROR_ACCESS_DENIED);
  if (fsync(handle->fd) != 0) return FailWith(Win32FromErrno(errno));
  return TRUE;
}

// The file ends at its pointer: cut there, or grown with a hole up to it.
BOOL SetEndOfFile(HANDLE file) {
  LinuxHandle* handle = DescriptorOf(file);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const off_t position = lseek(handle->fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(handle->fd, position) != 0)
    return FailWith(Win32FromErrno(errno));
  return TRUE;
}

namespace {
// A FILETIME (100 ns since 1601) as the time futimens takes; a null or zero
// time is left as it is, as on Windows.
struct timespec TimeOf(const FILETIME* time) {
  struct timespec stamp{};
  stamp.tv_nsec = UTIME_OMIT;
  if (time == nullptr) return stamp;
  const uint64_t ticks = (static_cast<uint64_t>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
  if (ticks == 0) return stamp;
  const int64_t since1970 = static_cast<int64_t>(ticks) - 116444736000000000LL;
  int64_t rest = since1970 % 10000000;
  if (rest < 0) rest += 10000000;
  stamp.tv_sec = static_cast<time_t>((since1970 - rest) / 10000000);
  stamp.tv_nsec = static_cast<long>(rest * 100);
  return stamp;
}
}  // namespace

// Linux keeps no creation time: that one is ignored.
BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime) {
  LinuxHandle* handle = DescriptorOf(file);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const struct timespec times[2] = {TimeOf(lastAccessTime), TimeOf(lastWriteTime)};
  if (futimens(handle->fd, times) != 0) return FailWith(Win32FromErrno(errno));
  return TRUE;
}
