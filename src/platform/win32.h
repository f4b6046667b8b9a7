// The Win32 API as the program sees it: the SDK on Windows, our own
// declarations over the Linux kernel elsewhere.
#pragma once

#ifdef _WIN32
#include <cstddef>

// mingw-w64's virtdisk.h (which windows.h includes) lays out the second
// version of the creation parameters without PhysicalSectorSizeInBytes, so
// every field after it would sit 8 bytes early. Its record is renamed away
// and the platform's own layout declared below.
#define _CREATE_VIRTUAL_DISK_PARAMETERS _SHORT_CREATE_VIRTUAL_DISK_PARAMETERS
#define CREATE_VIRTUAL_DISK_PARAMETERS SHORT_CREATE_VIRTUAL_DISK_PARAMETERS
#define PCREATE_VIRTUAL_DISK_PARAMETERS PSHORT_CREATE_VIRTUAL_DISK_PARAMETERS
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <objbase.h>
#include <shellapi.h>
#include <virtdisk.h>
#include <winioctl.h>
#undef _CREATE_VIRTUAL_DISK_PARAMETERS
#undef CREATE_VIRTUAL_DISK_PARAMETERS
#undef PCREATE_VIRTUAL_DISK_PARAMETERS

#include "create_virtual_disk_parameters.h"
#ifdef _WIN64
static_assert(offsetof(CREATE_VIRTUAL_DISK_PARAMETERS, Version2.ParentPath) == 48,
              "the platform's layout of the creation parameters");
#endif

inline DWORD CreateVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path,
                               VIRTUAL_DISK_ACCESS_MASK accessMask,
                               PSECURITY_DESCRIPTOR securityDescriptor,
                               CREATE_VIRTUAL_DISK_FLAG flags, ULONG providerSpecificFlags,
                               PCREATE_VIRTUAL_DISK_PARAMETERS parameters,
                               LPOVERLAPPED overlapped, PHANDLE handle) {
  return CreateVirtualDisk(storageType, path, accessMask, securityDescriptor, flags,
                           providerSpecificFlags,
                           reinterpret_cast<PSHORT_CREATE_VIRTUAL_DISK_PARAMETERS>(parameters),
                           overlapped, handle);
}

#ifndef IOCTL_DISK_GET_DISK_ATTRIBUTES
#define IOCTL_DISK_GET_DISK_ATTRIBUTES 0x000700F0
typedef struct _GET_DISK_ATTRIBUTES {
  ULONG Version;
  ULONG Reserved1;
  ULONGLONG Attributes;
} GET_DISK_ATTRIBUTES, *PGET_DISK_ATTRIBUTES;
#endif
#ifndef IOCTL_DISK_SET_DISK_ATTRIBUTES
#define IOCTL_DISK_SET_DISK_ATTRIBUTES 0x0007C0F4
typedef struct _SET_DISK_ATTRIBUTES {
  DWORD Version;
  BOOLEAN Persist;
  BYTE Reserved1[3];
  DWORDLONG Attributes;
  DWORDLONG AttributesMask;
  DWORD Reserved2[4];
} SET_DISK_ATTRIBUTES, *PSET_DISK_ATTRIBUTES;
#endif
#ifndef DISK_ATTRIBUTE_OFFLINE
#define DISK_ATTRIBUTE_OFFLINE 0x0000000000000001ULL
#define DISK_ATTRIBUTE_READ_ONLY 0x0000000000000002ULL
#endif
#ifndef ERROR_VIRTDISK_NOT_VIRTUAL_DISK
#define ERROR_VIRTDISK_NOT_VIRTUAL_DISK 0xC03A0015L
#endif
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif
#ifndef IOCTL_STORAGE_GET_BACKING_FILE
#define IOCTL_STORAGE_GET_BACKING_FILE 0x002D5928
#endif
#else
#include "linux/win32_linux.h"
#endif
