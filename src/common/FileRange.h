#pragma once

#include <cstdint>

#include "win32.h"

// Reads `length` bytes of `file` at `offset`, whatever its file position,
// which ends past the bytes read (a read at an offset, as the system makes
// it). `got`, when given, receives the bytes read.
// Returns: 0; ERROR_HANDLE_EOF when the file ends first; the Win32 code of a
// failed read.
DWORD ReadFileRange(HANDLE file, uint64_t offset, void* buffer, uint64_t length,
                    uint64_t* got = nullptr);
