// Folder mount points of partition volumes.
#include <blkid/blkid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "last_error.h"
#include "support/kernel/loop_device.h"
#include "support/kernel/mountinfo.h"
#include "support/kernel/partition_volumes.h"
#include "support/kernel/staged_mount.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/multi_string.h"
#include "support/runtime/text.h"
#include "support/users/run_owner.h"

namespace {

std::string FolderPath(LPCWSTR folder) {
  std::string path = ToUtf8(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

constexpr char kFuseFat[] = "fuse.fusefat";

// Whether the running kernel has its own driver for a file system type.
bool KernelHasFileSystem(const std::string& type) {
  std::ifstream list("/proc/filesystems");
  std::string line;
  while (std::getline(list, line)) {
    const size_t tab = line.rfind('\t');
    if (line.substr(tab == std::string::npos ? 0 : tab + 1) == type) return true;
  }
  return false;
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
  // FAT likewise where the kernel has no driver of its own.
  if (type == "vfat" && !KernelHasFileSystem(type)) type = kFuseFat;
  return type;
}

// Options that leave the volume to the run's owner alone: the user who ran
// sudo, or else the caller. nosuid and nodev always. A root mount of the FUSE
// driver is closed to other users unless it is made for a sudo user; then it
// lets them in (allow_other) and the kernel checks the owner and mode it
// shows (default_permissions, which a umask turns on).
// The FUSE driver of FAT only reads (it calls writing experimental) and names
// no device unless told: its device name makes the mount findable by device.
std::string MountOptions(const std::string& type, const std::string& device) {
  std::string options = "nosuid,nodev";
  const RunOwner owner = CurrentRunOwner();
  const std::string ids =
      ",uid=" + std::to_string(owner.uid) + ",gid=" + std::to_string(owner.gid) + ",umask=077";
  if (type == "ntfs-3g") {
    options += ids + ",no_def_opts,silent";
    if (owner.forSudoUser) options += ",allow_other";
  } else if (type == kFuseFat) {
    options += ids + ",ro,default_permissions,fsname=" + device;
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

// Volumes without a file system that a folder was linked to. Windows links
// such a RAW volume without complaint; here nothing can be mounted, so the
// link lives in this process only, which is as long as a run that made one
// needs it: its file system check fails and it removes the link again.
std::mutex rawLinksLock;
std::map<std::string, PartitionVolume> rawLinks;

bool RawLinkAt(const std::string& folder, PartitionVolume* volume) {
  std::lock_guard<std::mutex> guard(rawLinksLock);
  auto link = rawLinks.find(folder);
  if (link == rawLinks.end()) return false;
  if (volume != nullptr) *volume = link->second;
  return true;
}

// The volume at a folder: a mounted partition volume or a RAW link.
bool VolumeAt(const std::string& folder, PartitionVolume* volume) {
  MountEntry entry;
  return RawLinkAt(folder, volume) || VolumeMountedAt(folder, volume, &entry);
}

// The name Windows gives the file system of that blkid type.
std::wstring WindowsFileSystemName(const std::string& type) {
  if (type == "ntfs-3g") return L"NTFS";
  if (type == "vfat" || type == kFuseFat) return L"FAT32";
  if (type == "exfat") return L"exFAT";
  return FromUtf8(type);
}

bool CopyText(const std::wstring& text, LPWSTR buffer, DWORD size) {
  if (buffer == nullptr) return true;
  if (size < text.size() + 1) return false;
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return true;
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
  if (type.empty()) {
    std::lock_guard<std::mutex> guard(rawLinksLock);
    rawLinks[FolderPath(volumeMountPoint)] = volume;
    return TRUE;
  }
  code = MountVolumeOnFolder(device, type, MountOptions(type, device), folder);
  return code == ERROR_SUCCESS ? TRUE : FailWith(code);
}

BOOL DeleteVolumeMountPointW(LPCWSTR volumeMountPoint) {
  if (volumeMountPoint == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  PartitionVolume volume;
  MountEntry entry;
  if (RawLinkAt(FolderPath(volumeMountPoint), nullptr)) {
    std::lock_guard<std::mutex> guard(rawLinksLock);
    rawLinks.erase(FolderPath(volumeMountPoint));
    return TRUE;
  }
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
  if (!VolumeAt(FolderPath(volumeMountPoint), &volume)) return FailWith(ERROR_NOT_A_REPARSE_POINT);
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
  {
    std::lock_guard<std::mutex> guard(rawLinksLock);
    for (const auto& link : rawLinks)
      if (link.second.volumeNumber == volume.volumeNumber) paths.push_back(FromUtf8(link.first + "/"));
  }
  const size_t needed = MultiStringSize(paths);
  if (returnLength != nullptr) *returnLength = static_cast<DWORD>(needed);
  if (volumePathNames == nullptr || bufferLength < needed) return FailWith(ERROR_MORE_DATA);
  const size_t at = StoreMultiString(paths, volumePathNames);
  if (paths.empty() && bufferLength > 1) volumePathNames[at] = L'\0';
  return TRUE;
}

// Only the root of a volume answers: here a folder that carries one. A RAW
// volume names no file system and fails, as on Windows.
BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                           DWORD fileSystemNameSize) {
  if (rootPathName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string folder = FolderPath(rootPathName);
  PartitionVolume volume;
  if (RawLinkAt(folder, &volume)) return FailWith(ERROR_UNRECOGNIZED_VOLUME);
  MountEntry entry;
  if (!VolumeMountedAt(folder, &volume, &entry)) return FailWith(ERROR_DIR_NOT_ROOT);
  const std::string type = DetectFileSystem(LoopDevicePath(volume.volumeNumber));
  if (type.empty()) return FailWith(ERROR_UNRECOGNIZED_VOLUME);
  if (!CopyText(L"", volumeNameBuffer, volumeNameSize) ||
      !CopyText(WindowsFileSystemName(type), fileSystemNameBuffer, fileSystemNameSize))
    return FailWith(ERROR_BAD_LENGTH);
  if (volumeSerialNumber != nullptr) *volumeSerialNumber = 0;
  if (maximumComponentLength != nullptr) *maximumComponentLength = 255;
  if (fileSystemFlags != nullptr) *fileSystemFlags = 0;
  return TRUE;
}

namespace {
// Gives the search's next volume name. Returns: a Win32 code.
DWORD NextVolumeName(LinuxHandle& search, LPWSTR volumeName, DWORD bufferLength) {
  if (search.found.empty()) return ERROR_NO_MORE_FILES;
  const std::wstring name = FromUtf8(search.found.front());
  if (volumeName == nullptr || bufferLength < name.size() + 1) return ERROR_FILENAME_EXCED_RANGE;
  search.found.erase(search.found.begin());
  name.copy(volumeName, name.size());
  volumeName[name.size()] = L'\0';
  return ERROR_SUCCESS;
}
}  // namespace

// The partition volumes by the names Windows gives them ("\\?\Volume{guid}\",
// lower case), as they stand when the search begins.
HANDLE FindFirstVolumeW(LPWSTR volumeName, DWORD bufferLength) {
  HANDLE handle = NewHandle(HandleKind::kFindVolume, -1, std::string());
  LinuxHandle* search = HandleOf(handle, HandleKind::kFindVolume);
  for (const PartitionVolume& volume : ListPartitionVolumes())
    search->found.push_back(ToUtf8(VolumeGuidPath(volume.partitionId)));
  const DWORD code = NextVolumeName(*search, volumeName, bufferLength);
  if (code == ERROR_SUCCESS) return handle;
  DeleteHandle(search);
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

BOOL FindNextVolumeW(HANDLE findVolume, LPWSTR volumeName, DWORD bufferLength) {
  LinuxHandle* search = HandleOf(findVolume, HandleKind::kFindVolume);
  if (search == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const DWORD code = NextVolumeName(*search, volumeName, bufferLength);
  return code == ERROR_SUCCESS ? TRUE : FailWith(code);
}

BOOL FindVolumeClose(HANDLE findVolume) {
  LinuxHandle* search = HandleOf(findVolume, HandleKind::kFindVolume);
  if (search == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  DeleteHandle(search);
  return TRUE;
}
