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
#include "support/multi_string.h"
#include "support/partition_volumes.h"
#include "support/text.h"

namespace {

const char kMountOptions[] = "nosuid,nodev";

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

// What one libmount operation works on; null fields stay unset.
struct MountRequest {
  const char* source = nullptr;
  const char* target = nullptr;
  const char* type = nullptr;
  const char* options = nullptr;
};

bool SetUp(libmnt_context* context, const MountRequest& request) {
  return (request.source == nullptr || mnt_context_set_source(context, request.source) == 0) &&
         mnt_context_set_target(context, request.target) == 0 &&
         (request.type == nullptr || mnt_context_set_fstype(context, request.type) == 0) &&
         (request.options == nullptr || mnt_context_set_options(context, request.options) == 0);
}

// Runs mnt_context_mount or mnt_context_umount on a fresh context set up
// from `request`; returns the Win32 code of the outcome.
DWORD RunMountOperation(const MountRequest& request, int (*operation)(libmnt_context*)) {
  libmnt_context* context = mnt_new_context();
  if (context == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD code = ERROR_SUCCESS;
  if (!SetUp(context, request)) {
    code = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    const int result = operation(context);
    if (result != 0 || mnt_context_get_status(context) != 1) code = MountFailure(context, result);
  }
  mnt_free_context(context);
  return code;
}

DWORD Mount(const std::string& device, const std::string& folder, const std::string& type) {
  MountRequest request;
  request.source = device.c_str();
  request.target = folder.c_str();
  request.type = type.c_str();
  request.options = kMountOptions;
  return RunMountOperation(request, mnt_context_mount);
}

DWORD Unmount(const std::string& folder) {
  MountRequest request;
  request.target = folder.c_str();
  return RunMountOperation(request, mnt_context_umount);
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
  if (volumeMountPoint == nullptr || volumeName == nullptr)
    return FailWith(ERROR_INVALID_PARAMETER);
  const std::string folder = FolderPath(volumeMountPoint);
  DWORD code = CheckMountFolder(folder);
  if (code != ERROR_SUCCESS) return FailWith(code);
  GUID partitionId;
  if (!ParseVolumeName(volumeName, &partitionId)) return FailWith(ERROR_INVALID_NAME);
  if (geteuid() != 0) return FailWith(ERROR_ACCESS_DENIED);
  PartitionVolume volume;
  if (!FindPartitionVolume(partitionId, &volume)) return FailWith(ERROR_FILE_NOT_FOUND);
  const std::string device = LoopDevicePath(volume.volumeNumber);
  const std::string type = DetectFileSystem(device);
  if (type.empty()) return FailWith(ERROR_UNRECOGNIZED_VOLUME);
  code = Mount(device, folder, type);
  return code == ERROR_SUCCESS ? TRUE : FailWith(code);
}

BOOL DeleteVolumeMountPointW(LPCWSTR volumeMountPoint) {
  if (volumeMountPoint == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  PartitionVolume volume;
  MountEntry entry;
  if (!VolumeMountedAt(FolderPath(volumeMountPoint), &volume, &entry)) {
    return FailWith(ERROR_NOT_A_REPARSE_POINT);
  }
  if (geteuid() != 0) return FailWith(ERROR_ACCESS_DENIED);
  const DWORD code = Unmount(entry.mountPoint);
  return code == ERROR_SUCCESS ? TRUE : FailWith(code);
}

BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR volumeMountPoint, LPWSTR volumeName,
                                       DWORD bufferLength) {
  if (volumeMountPoint == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  PartitionVolume volume;
  MountEntry entry;
  if (!VolumeMountedAt(FolderPath(volumeMountPoint), &volume, &entry)) {
    return FailWith(ERROR_NOT_A_REPARSE_POINT);
  }
  const std::wstring name = VolumeGuidPath(volume.partitionId);
  if (volumeName == nullptr || bufferLength < name.size() + 1) {
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  }
  name.copy(volumeName, name.size());
  volumeName[name.size()] = L'\0';
  return TRUE;
}

BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWSTR volumePathNames,
                                      DWORD bufferLength, LPDWORD returnLength) {
  GUID partitionId;
  if (!ParseVolumeName(volumeName, &partitionId)) return FailWith(ERROR_INVALID_NAME);
  PartitionVolume volume;
  if (!FindPartitionVolume(partitionId, &volume)) return FailWith(ERROR_FILE_NOT_FOUND);
  std::vector<std::wstring> paths;
  for (const MountEntry& entry : MountsOfDevice(LoopDevicePath(volume.volumeNumber))) {
    std::wstring path = FromUtf8(entry.mountPoint);
    if (path.empty() || path.back() != L'/') path += L'/';
    bool seen = false;
    for (const std::wstring& known : paths) seen = seen || known == path;
    if (!seen) paths.push_back(path);
  }
  const size_t needed = MultiStringSize(paths);
  if (returnLength != nullptr) *returnLength = static_cast<DWORD>(needed);
  if (volumePathNames == nullptr || bufferLength < needed) return FailWith(ERROR_MORE_DATA);
  const size_t at = StoreMultiString(paths, volumePathNames);
  if (paths.empty() && bufferLength > 1) volumePathNames[at] = L'\0';
  return TRUE;
}
