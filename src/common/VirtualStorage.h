#pragma once

#include <cstdint>
#include <string>

#include "win32.h"

// The two kinds of virtual disk file the program makes. A VHD carries
// 512-byte sectors only; an image with any other sector size goes to a VHDX.
enum class VirtualDiskFormat { kVhd, kVhdx };

// The largest disk a VHD holds (2040 GiB) and the smallest disk the
// platform's service creates (3 MB).
inline constexpr uint64_t kMaxVhdDiskBytes = 2040ull << 30;
inline constexpr uint64_t kMinVirtualDiskBytes = 3ull << 20;

// Returns: Vhd for 512-byte sectors on a disk of at most kMaxVhdDiskBytes
// (0: size not known), Vhdx for any other sector size or a larger disk.
VirtualDiskFormat FormatForSectorSize(uint32_t sectorSize, uint64_t diskBytes = 0);

// The format of a virtual disk file, by its extension.
// Returns: Vhdx when the path ends in ".vhdx" in any case, Vhd for every
// other file.
VirtualDiskFormat FormatOfFile(const std::wstring& path);

// Returns: ".vhd" or ".vhdx".
const wchar_t* FileExtensionOf(VirtualDiskFormat format);

// Returns: the storage type of that format from the platform's own provider.
VIRTUAL_STORAGE_TYPE StorageTypeOf(VirtualDiskFormat format);
