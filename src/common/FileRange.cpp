#include "common/FileRange.h"

#include "platform.h"

DWORD ReadFileRange(HANDLE file, uint64_t offset, void* buffer, uint64_t length, uint64_t* got) {
  // A read takes at most a DWORD's worth; pieces of 1 GiB keep it whole.
  constexpr uint64_t kPiece = 1u << 30;
  uint8_t* at = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  DWORD error = 0;
  while (error == 0 && done < length) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset + done);
    where.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD want = static_cast<DWORD>(length - done < kPiece ? length - done : kPiece);
    DWORD moved = 0;
    if (!ReadFile(file, at + done, want, &moved, &where))
      error = GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
    else if (moved == 0)
      error = ERROR_HANDLE_EOF;
    done += moved;
  }
  if (got != nullptr) *got = done;
  return error;
}
