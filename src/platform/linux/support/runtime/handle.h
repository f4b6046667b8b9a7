// What a HANDLE points to on Linux. Every handle the layer gives out is a
// LinuxHandle allocated with new and released by CloseHandle / FindClose.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "win32_types.h"

enum class HandleKind {
  kFile,         // a regular file opened by CreateFileW or CreateUnnamedFile
  kFolder,       // the folder that CreateUnnamedFile holds
  kDevice,       // a block device: a disk (\\.\PhysicalDriveN) or a partition volume
  kFind,         // a FindFirstFileW search
  kFindVolume,   // a FindFirstVolumeW search
  kConsole,      // GetStdHandle(STD_OUTPUT_HANDLE)
  kVirtualDisk,  // CreateVirtualDisk / OpenVirtualDisk
  kMutex,        // CreateMutexW: a lock file held with flock
  kThread,       // CreateThread: signaled once the thread has returned
  kEvent,        // CreateEventW
  kToken,        // OpenProcessToken
};

// The state that WaitForSingleObject waits on. Shared by the handle and, for
// a thread, by the running thread, so that either may go first.
struct Waitable {
  std::mutex lock;
  std::condition_variable changed;
  bool signaled = false;
  bool manualReset = true;
  pid_t threadId = 0;  // Thread: the kernel's id, set once the thread runs
};

struct LinuxHandle {
  HandleKind kind = HandleKind::kFile;
  int fd = -1;       // File, Device, Mutex
  std::string path;  // UTF-8: the file, the device node (/dev/loopN), the VHD or lock file
  int owned = 0;     // Mutex: how often its holder has acquired it
  DWORD access = 0;  // Device: the access it was opened with (GENERIC_READ, GENERIC_WRITE)
  std::vector<std::string> found;  // Find, FindVolume: the matches still to give
  // File made by CreateUnnamedFile where unnamed files cannot be had: its
  // held folder, name and identity, for its removal when it is closed.
  int removeFolder = -1;
  std::string removeName;
  dev_t removeDevice = 0;
  ino_t removeInode = 0;
  ULONG storageDevice = 0;  // VirtualDisk: VIRTUAL_STORAGE_TYPE_DEVICE_VHD or _VHDX
  int loop = -1;  // VirtualDisk: the loop it was opened on (-1: found by its file when asked)
  std::shared_ptr<Waitable> waitable;  // Thread, Event
  std::thread thread;                  // Thread: joined by a wait, else detached on close
};

// A new handle of `kind` over the descriptor `fd` (-1: none) and `path`; its
// owner releases it with CloseHandle or FindClose.
HANDLE NewHandle(HandleKind kind, int fd, const std::string& path);

// Returns: the LinuxHandle behind a HANDLE, or nullptr for null, the invalid
// value, or a handle of another kind than `kind` (the caller's error 6).
LinuxHandle* HandleOf(HANDLE handle, HandleKind kind);

// Releases a handle made by NewHandle (CloseHandle, FindClose).
void DeleteHandle(LinuxHandle* handle);

// True while this process holds a device handle on `devicePath` (/dev/loopN).
bool DeviceHandleOpen(const std::string& devicePath);
