// Disk files made and opened through the layer's virtual disk calls, as the
// program makes them, and raw access to their bytes for the tests that check
// or damage the files.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "win32.h"

inline VIRTUAL_STORAGE_TYPE StorageType(ULONG deviceId) {
  VIRTUAL_STORAGE_TYPE type;
  memset(&type, 0, sizeof(type));
  type.DeviceId = deviceId;
  return type;
}

inline VIRTUAL_STORAGE_TYPE VhdStorageType() { return StorageType(VIRTUAL_STORAGE_TYPE_DEVICE_VHD); }

// Creates a disk file with the first version of the creation parameters;
// the handle is left open in `handle`.
// Returns: what CreateVirtualDisk returned.
inline DWORD CreateVersion1Disk(ULONG deviceId, const std::wstring& path, uint64_t size,
                                ULONG sectorSize, HANDLE* handle) {
  VIRTUAL_STORAGE_TYPE type = StorageType(deviceId);
  CREATE_VIRTUAL_DISK_PARAMETERS parameters;
  memset(&parameters, 0, sizeof(parameters));
  parameters.Version = CREATE_VIRTUAL_DISK_VERSION_1;
  parameters.Version1.MaximumSize = size;
  parameters.Version1.SectorSizeInBytes = sectorSize;
  *handle = INVALID_HANDLE_VALUE;
  return CreateVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL, nullptr,
                           CREATE_VIRTUAL_DISK_FLAG_NONE, 0, &parameters, nullptr, handle);
}

// A 64 MiB disk file made with the first version of the parameters, closed
// again.
// Returns: what CreateVirtualDisk returned.
inline DWORD CreateVersion1(ULONG deviceId, const std::string& path, ULONG sectorSize) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  const DWORD code = CreateVersion1Disk(deviceId, std::wstring(path.begin(), path.end()),
                                        64 << 20, sectorSize, &handle);
  if (code == 0) CloseHandle(handle);
  return code;
}

inline DWORD CreateVhd(const std::wstring& path, uint64_t size, ULONG sectorSize, HANDLE* handle) {
  return CreateVersion1Disk(VIRTUAL_STORAGE_TYPE_DEVICE_VHD, path, size, sectorSize, handle);
}

// Creates a VHDX file with the second version of the creation parameters
// and closes it again.
// Returns: what CreateVirtualDisk returned.
inline DWORD CreateVhdx(const std::string& path, uint64_t size, ULONG sectorSize,
                        ULONG blockSize = 0,
                        VIRTUAL_DISK_ACCESS_MASK access = VIRTUAL_DISK_ACCESS_NONE) {
  VIRTUAL_STORAGE_TYPE type = StorageType(VIRTUAL_STORAGE_TYPE_DEVICE_VHDX);
  CREATE_VIRTUAL_DISK_PARAMETERS parameters;
  memset(&parameters, 0, sizeof(parameters));
  parameters.Version = CREATE_VIRTUAL_DISK_VERSION_2;
  parameters.Version2.MaximumSize = size;
  parameters.Version2.BlockSizeInBytes = blockSize;
  parameters.Version2.SectorSizeInBytes = sectorSize;
  parameters.Version2.PhysicalSectorSizeInBytes = sectorSize;
  const std::wstring widePath(path.begin(), path.end());
  HANDLE handle = INVALID_HANDLE_VALUE;
  const DWORD code = CreateVirtualDisk(&type, widePath.c_str(), access, nullptr,
                                       CREATE_VIRTUAL_DISK_FLAG_NONE, 0, &parameters, nullptr,
                                       &handle);
  if (code == 0) CloseHandle(handle);
  return code;
}

// Opens a disk file as a virtual disk of the given type.
// Returns: what OpenVirtualDisk returned.
inline DWORD OpenDisk(ULONG deviceId, const std::wstring& path, VIRTUAL_DISK_ACCESS_MASK access,
                      HANDLE* handle) {
  VIRTUAL_STORAGE_TYPE type = StorageType(deviceId);
  return OpenVirtualDisk(&type, path.c_str(), access, OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, handle);
}

// Returns: whether all `length` bytes were written at `offset`.
inline bool WriteBytes(const std::string& path, uint64_t offset, const void* bytes, size_t length) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool written = pwrite(fd, bytes, length, static_cast<off_t>(offset)) ==
                       static_cast<ssize_t>(length);
  close(fd);
  return written;
}

// Returns: whether all `length` bytes were read from `offset`.
inline bool ReadBytes(const std::string& path, uint64_t offset, void* bytes, size_t length) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool read = pread(fd, bytes, length, static_cast<off_t>(offset)) ==
                    static_cast<ssize_t>(length);
  close(fd);
  return read;
}
