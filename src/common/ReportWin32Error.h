#pragma once

#include <cstdint>
#include <string>

// Prints "!ERROR! " with the system text of `code` (0: the thread's last
// error), followed by the quoted path when one is given.
// Returns: the code printed, never 0 (ERROR_GEN_FAILURE when there was none).
uint32_t ReportWin32Error(uint32_t code, const wchar_t* path = nullptr);

// Returns: the system text of `code` without its closing line break, for a
// warning that names the error within its own line; "Unknown error (N)."
// for a code without one.
std::wstring SystemErrorText(uint32_t code);
