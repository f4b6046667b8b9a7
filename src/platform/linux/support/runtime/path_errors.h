// Errors of calls on file-system paths.
#pragma once

#include <string>

#include "win32_types.h"

// Returns: the Win32 code of the errno value `error` of a failed call on
// `path`. A missing name is error 2 when its folder exists and 3 when the
// folder is missing too, as the system tells the two apart.
DWORD Win32FromPathErrno(int error, const std::string& path);
