#include "device_prefix.h"

const wchar_t kDrivePrefix[] = L"PhysicalDrive";
