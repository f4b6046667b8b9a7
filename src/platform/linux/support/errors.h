// The thread's last error holds Win32 codes; errno values are mapped onto them.
#pragma once

#include "win32.h"

// ENOENT -> 2, EACCES/EPERM -> 5, EBUSY -> 32, ENOSPC -> 112, ...
DWORD Win32FromErrno(int error);

// Sets the last error from an errno value and returns the Win32 code.
DWORD SetLastErrorFromErrno(int error);
