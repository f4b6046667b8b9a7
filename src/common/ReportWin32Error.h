#pragma once

#include <cstdint>

// Prints "!ERROR! " with the system text of `code` (0: the thread's last
// error), followed by the quoted path when one is given.
// Returns: the code printed, never 0 (ERROR_GEN_FAILURE when there was none).
uint32_t ReportWin32Error(uint32_t code, const wchar_t* path = nullptr);
