// VHDX files as this layer writes them: every payload block is present, the
// blocks lie one after the other in one sparse data region, so that a loop
// device over that region is the virtual disk.
#pragma once

#include <cstdint>
#include <string>

#include "formats/VhdxLayout.h"
#include "win32_types.h"

// What attaching needs from an existing file.
struct VhdxDisk {
  uint64_t diskSize = 0;
  uint32_t logicalSectorSize = 0;
  uint32_t physicalSectorSize = 0;
  uint32_t blockSize = 0;
  uint64_t dataOffset = 0;
  uint8_t diskId[16] = {};
};

// Creates the file, sparse: headers, region tables, metadata and block
// allocation table are written, the log and the payload stay holes. Sector sizes 512 or 4096 (the physical one not
// below the logical one); block size 0 for the default, or a power of two
// from 1 MiB to 256 MiB; the disk size a non-zero multiple of the logical
// sector size, at most 64 TiB. Returns: a Win32 code, ERROR_FILE_EXISTS when
// the file exists, ERROR_INVALID_PARAMETER for other values.
DWORD VhdxCreateFile(const std::string& path, uint64_t diskSize, uint32_t logicalSectorSize,
                     uint32_t physicalSectorSize, uint32_t blockSize);

// Returns: whether the file starts with the VHDX file type identifier.
bool VhdxHasSignature(const std::string& path);

// Reads and checks an existing file. Returns: a Win32 code,
// ERROR_VIRTDISK_NOT_VIRTUAL_DISK when
// it is no valid VHDX, ERROR_NOT_SUPPORTED when it is valid but its payload
// is not one contiguous, fully present region (a log to replay, a parent,
// blocks elsewhere), which a loop device cannot map.
DWORD VhdxOpenFile(const std::string& path, VhdxDisk* disk);
