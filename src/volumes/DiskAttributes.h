#pragma once

#include "win32.h"

// Has the disk re-read its properties and partition table after the payload
// was written under it.
// Returns: 0 on success, or the Win32 error code after a warning line and
// its report.
int UpdateDiskProperties(HANDLE& diskHandle);
