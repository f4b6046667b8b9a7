// The backing file of an attached virtual disk, as the drive names it.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "win32.h"

// The reply of the backing-file query, read up to its first NUL or the
// bytes the query returned, whichever comes first, in the form that
// OpenVirtualDisk and DeleteFileW take. Which form the drive answers is not
// documented, so each is accepted:
//   C:\dir\kmd1.vhd                         kept
//   \??\C:\dir\kmd1.vhd, \\?\C:\dir\...     C:\dir\kmd1.vhd
//   \??\UNC\server\share\..., \\?\UNC\...   \\server\share\...
//   \Device\HarddiskVolume3\dir\kmd1.vhd    C:\dir\kmd1.vhd, through the DOS
//                                           name whose target is that volume;
//                                           \\?\GLOBALROOT\Device\... without one
// `dosDevices` maps DOS device names to their targets ("C:" to
// "\Device\HarddiskVolume3").
// Returns: the path in that form; empty when the reply holds no path.
std::wstring BackingFileFromReply(const wchar_t* reply, size_t bytesReturned, size_t units,
                                  const std::map<std::wstring, std::wstring>& dosDevices);

// Whether a file name (no folder) has the exact form of this program's
// temporary files: "kmd", one to eight hex digits, then ".vhd" or ".vhdx",
// and ".tmp" too when `orTmp` says so.
// Returns: true when it has, else false.
bool HasOwnTempFileForm(const std::wstring& fileName, bool orTmp);

// Returns: true when the path's file name has the form of this program's VHD
// and VHDX files (HasOwnTempFileForm without ".tmp"), else false.
bool IsOwnTempFile(const std::wstring& path);

// A VHD or VHDX file this program made: named as its files are, right in a
// temporary folder of its own (IsPrivateTempFolder), so that a user's file
// that only looks like one is never taken for it.
// Returns: true when it is, else false.
bool IsOwnDiskFile(const std::wstring& path);

// Asks the storage dependency query of the disk behind `drive` for the file
// that backs it, the documented way where the backing-file control code is
// not answered. The file is the host volume's path (its first access path,
// else its volume name) joined with the path on that volume.
// Returns: 0 with `file` set; ERROR_VIRTDISK_NOT_VIRTUAL_DISK for a disk
// that no file backs (a real device); otherwise the query's error code.
DWORD QueryDependencyBackingFile(HANDLE drive, std::wstring& file);

// Whether the disk behind `drive` is a virtual disk backed by a file, as the
// storage device property's bus type says. A disk that does not answer the
// query is not taken for one.
// Returns: true when it is, else false.
bool IsFileBackedVirtualDisk(HANDLE drive);
