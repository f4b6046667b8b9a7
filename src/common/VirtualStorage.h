#pragma once

#include <cstdint>
#include <string>

#include "win32.h"

// The two kinds of virtual disk file the program makes. A VHD carries
// 512-byte sectors only; an image with any other sector size goes to a VHDX.
enum class VirtualDiskFormat { Vhd, Vhdx };

VirtualDiskFormat FormatForSectorSize(uint32_t sectorSize);

// The format of a virtual disk file, by its extension: ".vhdx" in any case
// is a VHDX, every other file is opened as a VHD.
VirtualDiskFormat FormatOfFile(const std::wstring& path);

// ".vhd" or ".vhdx".
const wchar_t* FileExtensionOf(VirtualDiskFormat format);

// The storage type of that format from the platform's own provider.
VIRTUAL_STORAGE_TYPE StorageTypeOf(VirtualDiskFormat format);
