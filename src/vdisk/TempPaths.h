#pragma once

#include <string>

class MountSession;

// Prefix of every temporary file this program creates; the sweep of earlier
// disks recognises its own VHD files by it.
extern const wchar_t kTempFilePrefix[];
constexpr unsigned kTempPathBufferSize = 260;

int MakeTempFileName(wchar_t* name);
int GetTempFolder(std::wstring& folder);
int MakeVhdPath(MountSession& session);
// `existed` (when given) tells whether the folder was there before.
int MakeMountFolder(MountSession& session, const std::wstring& imagePath, bool* existed = nullptr);
