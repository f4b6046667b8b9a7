#pragma once

#include <string>

class MountSession;

constexpr unsigned kTempPathBufferSize = 260;

int MakeTempFileName(wchar_t* name);
int GetTempFolder(std::wstring& folder);
int MakeVhdPath(MountSession& session);
int MakeMountFolder(MountSession& session, const std::wstring& imagePath);
