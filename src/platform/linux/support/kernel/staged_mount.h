// Mounting a volume onto an opened work folder. The mount helpers (the FUSE
// driver of NTFS among them) only take a path, so the volume is first mounted
// on a staging folder inside the caller's private temporary folder, where no
// other user can change anything, and the finished mount is then moved onto
// the opened folder by descriptor.
#pragma once

#include <string>

#include "mount_folder.h"
#include "mountinfo.h"
#include "win32_types.h"

// Mounts `device` as `type` with `options` and moves the mount onto `target`.
// Nothing stays mounted on failure.
DWORD MountVolumeOnFolder(const std::string& device, const std::string& type,
                          const std::string& options, const MountFolder& target);

// Unmounts exactly the mount `entry` describes: its folder is opened and the
// mount is taken away only when the opened folder is that mount's root.
DWORD UnmountEntry(const MountEntry& entry);
