// The calling user's own temporary folder: $TMPDIR (or /tmp) + "brackwen-<uid>/".
// Like a Windows profile's temporary folder, nobody else can create, replace
// or read what the program keeps there.
#pragma once

#include <string>

#include "win32_types.h"

// The folder's path, ending in '/', whether or not it exists yet.
std::string PrivateTempFolderPath();

// Makes the folder when it is missing and checks it on every call without
// following links: a directory of the calling user that no one else can
// write to, below folders no one else can rename it out of. Its mode is made
// 0700, or 0711 when the run is made for a sudo user, who must pass through
// it to the mount inside. ERROR_SUCCESS, or the Win32 code with `reason`
// saying in words what is wrong.
DWORD PreparePrivateTempFolder(std::string* reason);

// Whether `path` (a folder, with or without its final '/') is a private
// folder of the calling user under any base folder: named as that user's
// folder is and passing the same checks, without following links. Nothing is
// made or changed. Returns: true when it is.
bool IsPrivateFolderOfThisUser(const std::string& path);

// The folder of locks that hold for the whole machine, ending in '/': made
// 0700 by root in /run and checked as the private folder is (root's, nobody
// else can write to it or to the folders above it), so that no other user
// can take, replace or even open a lock file in it.
std::string MachineLockFolderPath();
// ERROR_SUCCESS once that folder exists and passes its checks; otherwise the
// Win32 code with `reason` saying in words what is wrong.
DWORD PrepareMachineLockFolder(std::string* reason);
