// Folder mount points of partition volumes.
#include <blkid/blkid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/loop_device.h"
#include "support/mountinfo.h"
#include "support/multi_string.h"
#include "support/partition_volumes.h"
#include "support/run_owner.h"
#include "support/staged_mount.h"
#include "support/text.h"

namespace {

std::string FolderPath(LPCWSTR folder) {
  std::string path = ToUtf8(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
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

// Options that leave the volume to the run's owner alone: the user who ran
// sudo, or else the caller. nosuid and nodev always. A root mount of the FUSE
// driver is closed to other users unless it is made for a sudo user; then it
// lets them in (allow_other) and the kernel checks the owner and mode it
// shows (default_permissions, which a umask turns on).
std::string MountOptions(const std::string& type) {
  std::string options = "nosuid,nodev";
  const RunOwner owner = CurrentRunOwner();
  const std::string ids =
      ",uid=" + std::to_string(owner.uid) + ",gid=" + std::to_string(owner.gid) + ",umask=077";
  if (type == "ntfs-3g") {
    options += ids + ",no_def_opts,silent";
    if (owner.forSudoUser) options += ",allow_other";
  } else if (type == "vfat" || type == "exfat" || type == "ntfs3") {
    options += ids;
  }
  return options;
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
  // Mount point paths are MAX_PATH units at most, terminator included.
  if (wcslen(volumeMountPoint) >= MAX_PATH) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  MountFolder folder;
  DWORD code = folder.Open(FolderPath(volumeMountPoint));
  if (code == ERROR_SUCCESS) code = folder.CheckEmpty();
  if (code != ERROR_SUCCESS) return FailWith(code);
  GUID partitionId;
  if (!ParseVolumeName(volumeName, &partitionId)) return FailWith(ERROR_INVALID_NAME);
  if (geteuid() != 0) return FailWith(ERROR_ACCESS_DENIED);
  PartitionVolume volume;
  if (!FindPartitionVolume(partitionId, &volume)) return FailWith(ERROR_FILE_NOT_FOUND);
  const std::string device = LoopDevicePath(volume.volumeNumber);
  const std::string type = DetectFileSystem(device);
  if (type.empty()) return FailWith(ERROR_UNRECOGNIZED_VOLUME);
  code = MountVolumeOnFolder(device, type, MountOptions(type), folder);
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
  const DWORD code = UnmountEntry(entry);
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
