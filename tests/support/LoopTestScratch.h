// Scratch space for the tests that attach loop devices and mount volumes: a
// private folder under /tmp, and a cleanup that unmounts and detaches all
// that lives in it (with plain system calls, not the code under test), also
// when a test fails midway.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "linux/support/formats/vhd.h"
#include "win32.h"

namespace loop_test {

inline std::string ReadLine(const std::string& path) {
  std::ifstream stream(path);
  std::string line;
  std::getline(stream, line);
  return line;
}

// Exit status of a shell command, its output discarded.
inline int RunCommand(const std::string& command) {
  const int status = system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string CommandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
  pclose(pipe);
  return output;
}

struct BoundLoop {
  int number;
  std::string backingFile;
};

inline std::vector<BoundLoop> BoundLoops() {
  std::vector<BoundLoop> loops;
  DIR* directory = opendir("/sys/block");
  if (directory == nullptr) return loops;
  while (dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.compare(0, 4, "loop") != 0) continue;
    const std::string backing = ReadLine("/sys/block/" + name + "/loop/backing_file");
    if (!backing.empty()) loops.push_back({atoi(name.c_str() + 4), backing});
  }
  closedir(directory);
  return loops;
}

inline void ClearLoop(int number) {
  const int fd = open(("/dev/loop" + std::to_string(number)).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ioctl(fd, LOOP_CLR_FD, 0);
  close(fd);
}

class LoopScratch {
 public:
  LoopScratch() {
    char pattern[] = "/tmp/brackwen-disks-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root = pattern;
    chmod(root.c_str(), 0755);
  }
  ~LoopScratch() {
    Cleanup();
    if (!root.empty()) RunCommand("rm -rf '" + root + "'");
  }
  LoopScratch(const LoopScratch&) = delete;
  LoopScratch& operator=(const LoopScratch&) = delete;

  bool Ready() const { return !root.empty(); }
  std::string Path(const std::string& name) const { return root + "/" + name; }
  std::wstring WidePath(const std::string& name) const {
    const std::string path = Path(name);
    return std::wstring(path.begin(), path.end());
  }

  // Loops over files in the scratch folder, then the loops over those.
  std::vector<int> DiskLoops() const {
    std::vector<int> disks;
    for (const BoundLoop& loop : BoundLoops()) {
      if (loop.backingFile.compare(0, root.size() + 1, root + "/") == 0) disks.push_back(loop.number);
    }
    return disks;
  }
  std::vector<int> VolumeLoops() const {
    std::vector<int> volumes;
    for (int disk : DiskLoops()) {
      for (const BoundLoop& loop : BoundLoops()) {
        if (loop.backingFile == "/dev/loop" + std::to_string(disk)) volumes.push_back(loop.number);
      }
    }
    return volumes;
  }

  void Cleanup() {
    if (root.empty()) return;
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    std::vector<std::string> points;
    while (std::getline(mounts, line)) {
      std::istringstream fields(line);
      std::string skip, point;
      fields >> skip >> skip >> skip >> skip >> point;
      if (point.compare(0, root.size() + 1, root + "/") == 0) points.push_back(point);
    }
    for (auto point = points.rbegin(); point != points.rend(); ++point) {
      if (umount2(point->c_str(), 0) != 0) umount2(point->c_str(), MNT_DETACH);
    }
    for (int volume : VolumeLoops()) ClearLoop(volume);
    for (int disk : DiskLoops()) ClearLoop(disk);
  }

 private:
  std::string root;
};

inline VIRTUAL_STORAGE_TYPE VhdStorageType() {
  VIRTUAL_STORAGE_TYPE type;
  memset(&type, 0, sizeof(type));
  type.DeviceId = VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
  return type;
}

// Creates the VHD and attaches it as the program does; the handle of the
// virtual disk is closed again. Returns the first failing code.
// CreateVirtualDisk makes VHDs of 512-byte sectors only, as on Windows; a
// disk of larger sectors is written by the layer's VHD file helper and
// opened, so that attaching such disks stays tested.
inline DWORD AttachScratchVhd(const std::wstring& path, uint64_t size, ULONG sectorSize,
                              std::wstring* drivePath) {
  VIRTUAL_STORAGE_TYPE type = VhdStorageType();
  HANDLE disk = INVALID_HANDLE_VALUE;
  DWORD code = 0;
  if (sectorSize == 512) {
    CREATE_VIRTUAL_DISK_PARAMETERS parameters;
    memset(&parameters, 0, sizeof(parameters));
    parameters.Version = CREATE_VIRTUAL_DISK_VERSION_1;
    parameters.Version1.MaximumSize = size;
    parameters.Version1.SectorSizeInBytes = sectorSize;
    code = CreateVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL, nullptr,
                             CREATE_VIRTUAL_DISK_FLAG_NONE, 0, &parameters, nullptr, &disk);
  } else {
    code = VhdCreateFile(std::string(path.begin(), path.end()), size, sectorSize);
    if (code == 0)
      code = OpenVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL,
                             OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &disk);
  }
  if (code != 0) return code;
  ATTACH_VIRTUAL_DISK_PARAMETERS attach;
  memset(&attach, 0, sizeof(attach));
  attach.Version = ATTACH_VIRTUAL_DISK_VERSION_1;
  code = AttachVirtualDisk(disk, nullptr,
                           static_cast<ATTACH_VIRTUAL_DISK_FLAG>(
                               ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER |
                               ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME),
                           0, &attach, nullptr);
  if (code == 0) {
    WCHAR buffer[513] = {};
    ULONG bytes = sizeof(buffer);
    code = GetVirtualDiskPhysicalPath(disk, &bytes, buffer);
    if (code == 0) *drivePath = buffer;
  }
  CloseHandle(disk);
  return code;
}

inline DWORD DetachVhd(const std::wstring& path) {
  VIRTUAL_STORAGE_TYPE type = VhdStorageType();
  HANDLE disk = INVALID_HANDLE_VALUE;
  DWORD code = OpenVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_DETACH,
                               OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &disk);
  if (code != 0) return code;
  code = DetachVirtualDisk(disk, DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
  CloseHandle(disk);
  return code;
}

// N of "\\.\PhysicalDriveN", or -1.
inline int DriveNumber(const std::wstring& drivePath) {
  const std::wstring prefix = L"\\\\.\\PhysicalDrive";
  if (drivePath.compare(0, prefix.size(), prefix) != 0 || drivePath.size() == prefix.size()) {
    return -1;
  }
  return static_cast<int>(wcstol(drivePath.c_str() + prefix.size(), nullptr, 10));
}

}  // namespace loop_test
