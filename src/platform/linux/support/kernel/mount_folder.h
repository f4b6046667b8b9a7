// A work folder that a volume is mounted on, opened once. Its checks and the
// mount itself act on the opened folder, never again on its path, so a path
// swapped for a link or another folder meanwhile cannot move the mount.
#pragma once

#include <string>

#include "support/runtime/unique_fd.h"
#include "win32_types.h"

class MountFolder {
 public:
  // Opens the folder without following a link at its end: 0, 267 for a link
  // or a file, or the Win32 code of the failure.
  DWORD Open(const std::string& path);
  // 0 for an empty directory of the calling user that is not itself a mount
  // point; 145 when it holds something or carries a mount, 5 when it is
  // another user's.
  DWORD CheckEmpty() const;
  // Moves the mount whose root is open at `mountRoot` onto this folder.
  DWORD MoveMountHere(int mountRoot) const;

 private:
  UniqueFd folder;
};

// The id of the mount that an open descriptor lies on; 0 when unknown.
unsigned MountIdOf(int fd);

// True when the descriptor is the root directory of a mount.
bool IsMountRoot(int fd);

// "/proc/self/fd/N": the kernel resolves it to the opened file itself.
std::string DescriptorPath(int fd);
