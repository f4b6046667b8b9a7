// Folder mount points of partition volumes.
#include <blkid/blkid.h>
#include <dirent.h>
#include <libmount/libmount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/loop_device.h"
#include "support/mountinfo.h"
#include "support/partition_volumes.h"
#include "support/text.h"

namespace {

const char kMountOptions[] = "nosuid,nodev";

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

std::string FolderPath(LPCWSTR folder) {
  std::string path = ToUtf8(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// 0 for an empty directory that is no mount point, else the Win32 reason it cannot be a mount point.
DWORD CheckMountFolder(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return Win32FromErrno(errno);
  if (S_ISLNK(status.st_mode) || !S_ISDIR(status.st_mode)) return ERROR_DIRECTORY;
  // A folder that already carries a mount is taken, even when the mounted
  // file system is empty.
  MountEntry mounted;
  if (FindMountAt(path, &mounted)) return ERROR_DIR_NOT_EMPTY;
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return Win32FromErrno(errno);
  DWORD code = ERROR_SUCCESS;
  while (dirent* entry = readdir(directory)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      code = ERROR_DIR_NOT_EMPTY;
      break;
    }
  }
  closedir(directory);
  return code;
}

// The file system type on a device, as the mount helpers know it; empty when
// nothing is recognised.
std::string DetectFileSystem(const std::string& device) {
  std::string type;
  blkid_probe probe = blkid_new_probe_from_filename(device.c_str());
  if (probe == nullptr) return type;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
  const char* value = nullptr;
  if (blkid_do_safeprobe(probe) == 0 &&
      blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && value != nullptr) {
    type = value;
  }
  blkid_free_probe(probe);
  // NTFS goes through its FUSE driver, which the kernel may lack otherwise.
  if (type == "ntfs") type = "ntfs-3g";
  return type;
}

// The Win32 code of a failed libmount operation.
DWORD MountFailure(libmnt_context* context, int result) {
  if (mnt_context_syscall_called(context)) {
    const int error = mnt_context_get_syscall_errno(context);
    if (error != 0) return Win32FromErrno(error);
  }
  if (mnt_context_helper_executed(context)) return ERROR_UNRECOGNIZED_VOLUME;
  return result < 0 ? Win32FromErrno(-result) : ERROR_GEN_FAILURE;
}

DWORD Mount(const std::string& device, const std::string& folder, const std::string& type) {
  libmnt_context* context = mnt_new_context();
  if (context == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD code = ERROR_SUCCESS;
  if (mnt_context_set_source(context, device.c_str()) != 0 ||
      mnt_context_set_target(context, folder.c_str()) != 0 ||
      mnt_context_set_fstype(context, type.c_str()) != 0 ||
      mnt_context_set_options(context, kMountOptions) != 0) {
    code = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    const int result = mnt_context_mount(context);
    if (result != 0 || mnt_context_get_status(context) != 1) code = MountFailure(context, result);
  }
  mnt_free_context(context);
  return code;
}

DWORD Unmount(const std::string& folder) {
  libmnt_context* context = mnt_new_context();
  if (context == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD code = ERROR_SUCCESS;
  if (mnt_context_set_target(context, folder.c_str()) != 0) {
    code = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    const int result = mnt_context_umount(context);
    if (result != 0 || mnt_context_get_status(context) != 1) code = MountFailure(context, result);
  }
  mnt_free_context(context);
  return code;
}

bool MountIsOfDevice(const MountEntry& entry, const std::string& device) {
  for (const MountEntry& candidate : MountsOfDevice(device)) {
    if (candidate.mountPoint == entry.mountPoint) return true;
  }
  return false;
}

// The partition volume mounted on top at the folder.
bool VolumeMountedAt(const std::string& folder, PartitionVolume* volume, MountEntry* entry) {
  if (!FindMountAt(folder, entry)) return false;
  for (const PartitionVolume& candidate : ListPartitionVolumes()) {
    if (MountIsOfDevice(*entry, LoopDevicePath(candidate.volumeNumber))) {
      *volume = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

BOOL SetVolumeMountPointW(LPCWSTR volumeMountPoint, LPCWSTR volumeName) {
  if (volumeMountPoint == nullptr || volumeName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string folder = FolderPath(volumeMountPoint);
  DWORD code = CheckMountFolder(folder);
  if (code != ERROR_SUCCESS) return Fail(code);
  GUID partitionId;
  if (!ParseVolumeName(volumeName, &partitionId)) return Fail(ERROR_INVALID_NAME);
  if (geteuid() != 0) return Fail(ERROR_ACCESS_DENIED);
  PartitionVolume volume;
  if (!FindPartitionVolume(partitionId, &volume)) return Fail(ERROR_FILE_NOT_FOUND);
  const std::string device = LoopDevicePath(volume.volumeNumber);
  const std::string type = DetectFileSystem(device);
  if (type.empty()) return Fail(ERROR_UNRECOGNIZED_VOLUME);
  code = Mount(device, folder, type);
  return code == ERROR_SUCCESS ? TRUE : Fail(code);
}

BOOL DeleteVolumeMountPointW(LPCWSTR volumeMountPoint) {
  if (volumeMountPoint == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  PartitionVolume volume;
  MountEntry entry;
  if (!VolumeMountedAt(FolderPath(volumeMountPoint), &volume, &entry)) {
    return Fail(ERROR_NOT_A_REPARSE_POINT);
  }
  if (geteuid() != 0) return Fail(ERROR_ACCESS_DENIED);
  const DWORD code = Unmount(entry.mountPoint);
  return code == ERROR_SUCCESS ? TRUE : Fail(code);
}

BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR volumeMountPoint, LPWSTR volumeName,
                                       DWORD bufferLength) {
  if (volumeMountPoint == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  PartitionVolume volume;
  MountEntry entry;
  if (!VolumeMountedAt(FolderPath(volumeMountPoint), &volume, &entry)) {
    return Fail(ERROR_NOT_A_REPARSE_POINT);
  }
  const std::wstring name = VolumeGuidPath(volume.partitionId);
  if (volumeName == nullptr || bufferLength < name.size() + 1) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  name.copy(volumeName, name.size());
  volumeName[name.size()] = L'\0';
  return TRUE;
}

BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWSTR volumePathNames,
                                      DWORD bufferLength, LPDWORD returnLength) {
  GUID partitionId;
  if (!ParseVolumeName(volumeName, &partitionId)) return Fail(ERROR_INVALID_NAME);
  PartitionVolume volume;
  if (!FindPartitionVolume(partitionId, &volume)) return Fail(ERROR_FILE_NOT_FOUND);
  std::vector<std::wstring> paths;
  for (const MountEntry& entry : MountsOfDevice(LoopDevicePath(volume.volumeNumber))) {
    std::wstring path = FromUtf8(entry.mountPoint);
    if (path.empty() || path.back() != L'/') path += L'/';
    bool seen = false;
    for (const std::wstring& known : paths) seen = seen || known == path;
    if (!seen) paths.push_back(path);
  }
  size_t needed = 1;
  for (const std::wstring& path : paths) needed += path.size() + 1;
  if (returnLength != nullptr) *returnLength = static_cast<DWORD>(needed);
  if (volumePathNames == nullptr || bufferLength < needed) return Fail(ERROR_MORE_DATA);
  size_t at = 0;
  for (const std::wstring& path : paths) {
    path.copy(volumePathNames + at, path.size());
    at += path.size();
    volumePathNames[at++] = L'\0';
  }
  volumePathNames[at++] = L'\0';
  if (paths.empty() && bufferLength > 1) volumePathNames[at] = L'\0';
  return TRUE;
}
