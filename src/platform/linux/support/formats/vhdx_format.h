// What writing and reading VHDX files share beyond the records themselves:
// the metadata items this layer knows, checksums and whole transfers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/VhdxRecords.h"
#include "vhdx.h"

namespace vhdx_format {

// The block allocation table is written and read this much at a time.
inline constexpr size_t kBatPiece = 64 * kVhdxKiB;
inline const char kCreator[] = "Brackwen";

// The metadata items a file of this layer carries, in the order it writes
// them, with their lengths; every one is required.
struct KnownItem {
  const DiskGuid* id;
  uint32_t length;
};
inline const KnownItem kItems[] = {{&kVhdxFileParametersItem, sizeof(VhdxFileParameters)},
                                   {&kVhdxVirtualDiskSizeItem, sizeof(uint64_t)},
                                   {&kVhdxVirtualDiskIdItem, sizeof(DiskGuid)},
                                   {&kVhdxLogicalSectorSizeItem, sizeof(uint32_t)},
                                   {&kVhdxPhysicalSectorSizeItem, sizeof(uint32_t)}};
inline constexpr int kItemCount = sizeof(kItems) / sizeof(kItems[0]);

// Writes the CRC-32C of the whole structure into its checksum field.
void Seal(uint8_t* bytes, size_t length);
// Returns: whether the checksum field holds the structure's CRC-32C.
bool IsSealed(const uint8_t* bytes, size_t length);

// Whole transfers at a file offset. Returns: ERROR_SUCCESS, or the Win32 code
// of the transfer that fell short (ERROR_IO_DEVICE when it stopped early).
DWORD WriteAt(int fd, uint64_t offset, const void* bytes, size_t length);
DWORD ReadAt(int fd, uint64_t offset, void* bytes, size_t length);

// Returns: whether the value is a sector size / block size the format allows.
bool IsSectorSize(uint64_t size);
bool IsBlockSize(uint64_t size);

}  // namespace vhdx_format
