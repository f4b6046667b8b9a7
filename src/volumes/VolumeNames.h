// Volumes by the names Windows gives them, and the disk each lies on.
#pragma once

#include <string>

#include "win32.h"

// Returns: true with `number` set to the device's disk and partition
// numbers, else false with the last error set.
bool QueryDeviceNumber(HANDLE device, STORAGE_DEVICE_NUMBER& number);

// "\\?\Volume{GUID}\" names the volume; "\\.\Volume{GUID}" opens it.
// Returns: the path that opens the named volume.
std::wstring VolumeDevicePath(const std::wstring& volumeName);

// Finds, among every volume the system lists, the one whose device number
// names the disk behind `disk` and that partition number, for where the
// volume's name is not the one its partition GUID suggests.
// Returns: true with `volumeName` set to the name the system gives it
// ("\\?\Volume{GUID}\"), else false.
bool FindVolumeOfPartition(HANDLE disk, DWORD partitionNumber, std::wstring& volumeName);
