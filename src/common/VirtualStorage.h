#pragma once

#include <cstdint>
#include <string>

#include "win32.h"

// The two kinds of virtual disk file the program makes. A VHD carries
// 512-byte sectors only; an image with any other sector size goes to a VHDX.
enum class VirtualDiskFormat { Vhd, Vhdx };

// Returns: Vhd for 512-byte sectors, Vhdx for any other size.
VirtualDiskFormat FormatForSectorSize(uint32_t sectorSize);

// The format of a virtual disk file, by its extension.
// Returns: Vhdx when the path ends in ".vhdx" in any case, Vhd for every
// other file.
VirtualDiskFormat FormatOfFile(const std::wstring& path);

// Returns: ".vhd" or ".vhdx".
const wchar_t* FileExtensionOf(VirtualDiskFormat format);

// Returns: the storage type of that format from the platform's own provider.
VIRTUAL_STORAGE_TYPE StorageTypeOf(VirtualDiskFormat format);
