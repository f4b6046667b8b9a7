#include "vhdx_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "support/runtime/errors.h"

namespace vhdx_format {

namespace {

// Repeats `transfer` (pread or pwrite) until all `length` bytes have moved.
template <typename Transfer, typename Byte>
DWORD Whole(Transfer transfer, int fd, uint64_t offset, Byte* at, size_t length) {
  while (length > 0) {
    const ssize_t moved = transfer(fd, at, length, static_cast<off_t>(offset));
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) return Win32FromErrno(moved < 0 && errno != 0 ? errno : EIO);
    at += moved;
    offset += static_cast<uint64_t>(moved);
    length -= static_cast<size_t>(moved);
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD WriteAt(int fd, uint64_t offset, const void* bytes, size_t length) {
  return Whole(pwrite, fd, offset, static_cast<const uint8_t*>(bytes), length);
}

DWORD ReadAt(int fd, uint64_t offset, void* bytes, size_t length) {
  return Whole(pread, fd, offset, static_cast<uint8_t*>(bytes), length);
}

bool IsSectorSize(uint64_t size) { return size == 512 || size == 4096; }

bool IsBlockSize(uint64_t size) {
  return size >= kVhdxMinBlockSize && size <= kVhdxMaxBlockSize && (size & (size - 1)) == 0;
}

}  // namespace vhdx_format

