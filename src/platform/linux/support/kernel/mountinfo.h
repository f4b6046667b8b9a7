// The mount table of this process, as /proc/self/mountinfo gives it.
#pragma once

#include <string>
#include <vector>

struct MountEntry {
  unsigned id = 0;  // the mount's id, as /proc/self/fdinfo names it too
  unsigned major = 0;
  unsigned minor = 0;
  std::string mountPoint;  // octal escapes decoded
  std::string fsType;
  std::string source;
};

// Parses mountinfo text; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// The current table, in mount order.
std::vector<MountEntry> ReadMountInfo();

// Mounts whose device is the block device at devicePath (by device number,
// or by source path for mounts whose file system reports none).
std::vector<MountEntry> MountsOfDevice(const std::string& devicePath);

// The top mount whose mount point is exactly path; false when none.
bool FindMountAt(const std::string& path, MountEntry* entry);

// An absolute path without a trailing '/' (the root stays "/"), symbolic
// links in it resolved when it exists.
std::string NormalMountPath(const std::string& path);
