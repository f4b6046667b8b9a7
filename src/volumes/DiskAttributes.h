#pragma once

#include "win32.h"

// Has the disk re-read its properties and partition table after the payload
// was written under it.
// Returns: 0 on success, or the Win32 error code after a warning line and
// its report.
int UpdateDiskProperties(HANDLE diskHandle);

// A new disk arrives offline and read-only where the system's policy says
// so (the default of server editions): both attributes are cleared before
// anything is written to it.
// Returns: 0 when the disk is online and writable, or the Win32 error code
// after a line that says which step failed and its report.
int BringDiskOnline(HANDLE diskHandle);
