#pragma once

#include "win32.h"

// Fixed values that the mount and the sweep of earlier disks must agree on.

// Name of the image's main operating-system partition.
inline constexpr wchar_t kMainPartitionName[] = L"MainOS";

// Prefix of every temporary file this program creates; the sweep of earlier
// disks recognises its own VHD files by it.
inline constexpr wchar_t kTempFilePrefix[] = L"kmd";

// GUID {AE420040-13DD-41F2-AE7F-0DC35854C8D7}: the disk identifier of a disk
// onto which an image's payload was written.
inline const GUID kImageDiskId = {0xAE420040, 0x13DD, 0x41F2,
                                  {0xAE, 0x7F, 0x0D, 0xC3, 0x58, 0x54, 0xC8, 0xD7}};

// GUID {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}: the GPT type of a basic data
// partition, the kind that holds a desktop system's files and the only kind
// Windows gives a volume.
inline const GUID kBasicDataPartitionType = {0xEBD0A0A2, 0xB9E5, 0x4433,
                                             {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
