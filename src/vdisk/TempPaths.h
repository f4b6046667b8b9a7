#pragma once

#include <string>

#include "vdisk/VirtualStorage.h"

class MountSession;

// Prefix of every temporary file this program creates; the sweep of earlier
// disks recognises its own VHD files by it.
extern const wchar_t kTempFilePrefix[];
constexpr unsigned kTempPathBufferSize = 260;

int MakeTempFileName(wchar_t* name);
int GetTempFolder(std::wstring& folder);
// Sets the session's vhdPath: a fresh "kmd" name with the format's extension.
int MakeVhdPath(MountSession& session, VirtualDiskFormat format);
int MakeMountFolder(MountSession& session, const std::wstring& imagePath);
