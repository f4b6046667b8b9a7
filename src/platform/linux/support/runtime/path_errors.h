// Errors of calls on file-system paths.
#pragma once

#include <string>

#include "win32.h"

// Sets the last error for a failed call on `path` and returns it. A missing
// name is error 2 when its folder exists and 3 when the folder is missing
// too, as the system tells the two apart.
DWORD SetLastErrorForPath(int error, const std::string& path);
