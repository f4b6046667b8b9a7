#pragma once

#include <cstdint>

// The two ways an operation fails with a line: with its own line
// (PrintErrorLine, common/ProgramLines.h), or with the system's text of an
// error code here. Both return the result the operation hands back to its
// caller, which is never 0, so that callers test for success with `!= 0` and
// pass the result on unchanged.

// Prints the system text of `code` (0: the thread's last error) and the
// quoted path, as ReportWin32Error does.
// Returns: the code reported (ERROR_GEN_FAILURE when there was none).
int FailWithError(uint32_t code, const wchar_t* path = nullptr);
