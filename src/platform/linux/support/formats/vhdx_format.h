// What writing and reading VHDX files share in this layer: whole transfers
// and the values the format allows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/VhdxRecords.h"
#include "vhdx.h"

namespace vhdx_format {

// The block allocation table is written and read this much at a time.
inline constexpr size_t kBatPiece = 64 * kVhdxKiB;
// Whole transfers at a file offset. Returns: ERROR_SUCCESS, or the Win32 code
// of the transfer that fell short (ERROR_IO_DEVICE when it stopped early).
DWORD WriteAt(int fd, uint64_t offset, const void* bytes, size_t length);
DWORD ReadAt(int fd, uint64_t offset, void* bytes, size_t length);

// Returns: whether the value is a sector size / block size the format allows.
bool IsSectorSize(uint64_t size);
bool IsBlockSize(uint64_t size);

}  // namespace vhdx_format
