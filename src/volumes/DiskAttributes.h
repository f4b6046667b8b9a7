#pragma once

#include "win32.h"

// Has the disk re-read its properties and partition table after the payload
// was written under it. 0 on success, else the reported error code.
int UpdateDiskProperties(HANDLE& diskHandle);
