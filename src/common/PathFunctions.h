#pragma once

#include <string>

#include "win32.h"

// Units of the buffer the temporary folder's path is read into (MAX_PATH).
inline constexpr unsigned kTempPathBufferSize = 260;

// One trailing separator is dropped first; an empty path never exists.
// Returns: true when the path names an existing file or folder, false
// otherwise, with `error` (when given) set to the Win32 code that says why.
bool PathExists(const std::wstring& path, DWORD* error = nullptr);

// Returns: the text from the last dot of the whole path to its end, dot
// included; empty when the path has no dot.
std::wstring FileExtension(const std::wstring& path);

// Returns: the file name after the last separator, up to its last dot; to
// the end when there is no dot after the last separator.
std::wstring FileBaseName(const std::wstring& path);

// For a folder path ending in a separator.
// Returns: the folder's own name followed by one separator; empty for an
// empty path.
std::wstring FolderName(const std::wstring& path);

// Sets `folder` to the temporary folder, separator included; prints nothing.
// Returns: 0, or the Win32 error code of the failure
// (ERROR_INSUFFICIENT_BUFFER for a path longer than kTempPathBufferSize).
int ReadTempFolder(std::wstring& folder);
