// The thread's last error holds Win32 codes; errno values are mapped onto them.
// The rule: helpers in support/ return a Win32 code (or a documented value) and
// never touch the last error; the Win32 entry points set it once, where they return.
#pragma once

#include "win32.h"

// ENOENT -> 2, EACCES/EPERM -> 5, EBUSY -> 32, ENOSPC -> 112, ...
DWORD Win32FromErrno(int error);

// Sets the last error from an errno value and returns the Win32 code.
DWORD SetLastErrorFromErrno(int error);

// Sets the last error to `code`. Returns FALSE, as the calls that report
// failure through BOOL do.
BOOL FailWith(DWORD code);

// Sets the last error to `code`. Returns `code`, as the virtual-disk calls do.
DWORD FailCode(DWORD code);
