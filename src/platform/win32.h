// The Win32 API as the program sees it: the SDK on Windows, our own
// declarations over the Linux kernel elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <shellapi.h>
#include <virtdisk.h>
#include <winioctl.h>

#ifndef IOCTL_DISK_GET_DISK_ATTRIBUTES
#define IOCTL_DISK_GET_DISK_ATTRIBUTES 0x000700F0
typedef struct _GET_DISK_ATTRIBUTES {
  ULONG Version;
  ULONG Reserved1;
  ULONGLONG Attributes;
} GET_DISK_ATTRIBUTES, *PGET_DISK_ATTRIBUTES;
#endif
#ifndef IOCTL_STORAGE_GET_BACKING_FILE
#define IOCTL_STORAGE_GET_BACKING_FILE 0x002D5928
#endif
#else
#include "linux/win32_linux.h"
#endif
