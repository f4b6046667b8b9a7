#pragma once

#include <string>

// True when the path names an existing file or folder. One trailing
// separator is dropped first; an empty path never exists.
bool PathExists(const std::wstring& path);

// The text from the last dot of the whole path to its end, dot included;
// empty when the path has no dot.
std::wstring FileExtension(const std::wstring& path);

// The file name after the last separator, up to its last dot; to the end
// when there is no dot after the last separator.
std::wstring FileBaseName(const std::wstring& path);

// For a folder path ending in a separator: the folder's own name followed by
// one separator. Empty for an empty path.
std::wstring FolderName(const std::wstring& path);
