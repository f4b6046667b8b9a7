#pragma once

#include <string>

// One trailing separator is dropped first; an empty path never exists.
// Returns: true when the path names an existing file or folder, false
// otherwise with the thread's last error saying why.
bool PathExists(const std::wstring& path);

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
