// The rule of the layer: helpers in support/ return a Win32 code (or a documented value) and
// never touch the last error; the Win32 entry points set it once, where they return.
#pragma once

#include "win32_types.h"

// Returns: the Win32 code of an errno value: ENOENT -> 2, EACCES/EPERM -> 5,
// EBUSY -> 32, ENOSPC -> 112, ...
DWORD Win32FromErrno(int error);
