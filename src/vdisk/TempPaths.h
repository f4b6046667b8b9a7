#pragma once

#include <cstddef>
#include <string>

class MountSession;

constexpr unsigned kTempPathBufferSize = 260;

// Creates a new, empty temporary file and stores its path in `name`, which
// holds `size` characters. Returns 0, or the error code after printing it.
int MakeTempFileName(wchar_t* name, size_t size);
int GetTempFolder(std::wstring& folder);
int MakeVhdPath(MountSession& session);
// `existed` (when given) tells whether the folder was there before.
int MakeMountFolder(MountSession& session, const std::wstring& imagePath, bool* existed = nullptr);
