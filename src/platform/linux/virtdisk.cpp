// The virtual disk service over fixed VHD files, VHDX files with one
// contiguous data region, and loop devices.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "support/formats/vhd.h"
#include "support/formats/vhdx.h"
#include "support/kernel/inode_flags.h"
#include "support/kernel/loop_device.h"
#include "support/kernel/mountinfo.h"
#include "support/runtime/device_prefix.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/text.h"
#include "win32_linux.h"

namespace {

// The virtual disk calls return their error and leave the thread's last
// error as it was, as on Windows; the helpers under them never touch it.

// A VHD has 512-byte sectors: 0 asks for that default, any other size is
// refused as it is on Windows.
constexpr ULONG kVhdSectorSize = 512;

bool SupportedType(const VIRTUAL_STORAGE_TYPE* storageType) {
  return storageType != nullptr && (storageType->DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_VHD ||
                                    storageType->DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_VHDX);
}

// What the caller asks for, from either version of the parameters.
struct CreateRequest {
  uint64_t size = 0;
  uint32_t blockSize = 0;
  uint32_t sectorSize = 0;
  uint32_t physicalSectorSize = 0;  // 0: the format's default
};

bool ReadCreateRequest(const CREATE_VIRTUAL_DISK_PARAMETERS& parameters, CreateRequest* request) {
  if (parameters.Version == CREATE_VIRTUAL_DISK_VERSION_1) {
    request->size = parameters.Version1.MaximumSize;
    request->blockSize = parameters.Version1.BlockSizeInBytes;
    request->sectorSize = parameters.Version1.SectorSizeInBytes;
    return true;
  }
  if (parameters.Version != CREATE_VIRTUAL_DISK_VERSION_2) return false;
  request->size = parameters.Version2.MaximumSize;
  request->blockSize = parameters.Version2.BlockSizeInBytes;
  request->sectorSize = parameters.Version2.SectorSizeInBytes;
  request->physicalSectorSize = parameters.Version2.PhysicalSectorSizeInBytes;
  return true;
}

// The first version of the parameters has no physical sector size and takes
// 512-byte sectors only; a VHDX without a physical sector size gets 4096.
// Sizes the platform's service refuses: a disk under 3 MB, a VHD over
// 2040 GiB, a VHDX of sectors other than 512 or 4096 bytes.
constexpr uint64_t kMinDiskBytes = 3ull << 20;
constexpr uint64_t kMaxVhdBytes = 2040ull << 30;

DWORD CreateFileOfType(ULONG storageDevice, ULONG version, const std::string& file,
                       const CreateRequest& request) {
  const uint32_t sectorSize = request.sectorSize != 0 ? request.sectorSize : kVhdSectorSize;
  if (request.size < kMinDiskBytes) return ERROR_INVALID_PARAMETER;
  if (sectorSize != kVhdSectorSize && sectorSize != 4096) return ERROR_INVALID_PARAMETER;
  if (storageDevice == VIRTUAL_STORAGE_TYPE_DEVICE_VHD) {
    if (sectorSize != kVhdSectorSize || request.size > kMaxVhdBytes) return ERROR_INVALID_PARAMETER;
    return VhdCreateFile(file, request.size, kVhdSectorSize);
  }
  if (version == CREATE_VIRTUAL_DISK_VERSION_1 && sectorSize != kVhdSectorSize)
    return ERROR_INVALID_PARAMETER;
  const uint32_t physical = request.physicalSectorSize != 0 ? request.physicalSectorSize : 4096;
  return VhdxCreateFile(file, request.size, sectorSize, physical, request.blockSize);
}

// The loop device's view of the file: where the disk starts, how long it is
// and its sector size.
DWORD ReadDiskPlace(const LinuxHandle& disk, LoopAttachRequest* request) {
  if (disk.storageDevice == VIRTUAL_STORAGE_TYPE_DEVICE_VHD)
    return VhdOpenFile(disk.path, &request->sizeLimit, &request->blockSize);
  VhdxDisk vhdx;
  const DWORD code = VhdxOpenFile(disk.path, &vhdx);
  if (code != ERROR_SUCCESS) return code;
  request->offset = vhdx.dataOffset;
  request->sizeLimit = vhdx.diskSize;
  request->blockSize = vhdx.logicalSectorSize;
  return ERROR_SUCCESS;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  free(real);
  return resolved;
}

HANDLE NewVirtualDiskHandle(const std::string& path, ULONG storageDevice) {
  HANDLE handle = NewHandle(HandleKind::kVirtualDisk, -1, RealPath(path));
  static_cast<LinuxHandle*>(handle)->storageDevice = storageDevice;
  return handle;
}

bool Mounted(int loopNumber) {
  return !MountsOfDevice(LoopDevicePath(loopNumber)).empty();
}

}  // namespace

DWORD CreateVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path,
                        VIRTUAL_DISK_ACCESS_MASK accessMask, PSECURITY_DESCRIPTOR,
                        CREATE_VIRTUAL_DISK_FLAG, ULONG,
                        PCREATE_VIRTUAL_DISK_PARAMETERS parameters, LPOVERLAPPED,
                        PHANDLE handle) {
  CreateRequest request;
  if (path == nullptr || parameters == nullptr || handle == nullptr ||
      !ReadCreateRequest(*parameters, &request) ||
      (parameters->Version == CREATE_VIRTUAL_DISK_VERSION_2 &&
       accessMask != VIRTUAL_DISK_ACCESS_NONE)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!SupportedType(storageType)) return ERROR_VIRTDISK_PROVIDER_NOT_FOUND;
  const std::string file = ToUtf8(path);
  const DWORD code = CreateFileOfType(storageType->DeviceId, parameters->Version, file, request);
  if (code != ERROR_SUCCESS) return code;
  *handle = NewVirtualDiskHandle(file, storageType->DeviceId);
  return ERROR_SUCCESS;
}

DWORD AttachVirtualDisk(HANDLE virtualDisk, PSECURITY_DESCRIPTOR, ATTACH_VIRTUAL_DISK_FLAG flags,
                        ULONG, PATTACH_VIRTUAL_DISK_PARAMETERS, LPOVERLAPPED) {
  LinuxHandle* disk = HandleOf(virtualDisk, HandleKind::kVirtualDisk);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  LoopAttachRequest request;
  request.backingPath = disk->path;
  request.readOnly = (flags & ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY) != 0;
  DWORD code = ReadDiskPlace(*disk, &request);
  if (code != ERROR_SUCCESS) return code;
  // As on Windows, a file that is compressed or encrypted is not attached.
  if (InodeFlagAttributesOf(disk->path) != 0) return ERROR_VIRTUAL_DISK_LIMITATION;
  if (LoopFindByFile(disk->path) >= 0) return ERROR_SHARING_VIOLATION;
  int number = -1;
  code = LoopAttach(request, &number);
  return code;
}

DWORD GetVirtualDiskPhysicalPath(HANDLE virtualDisk, ULONG* diskPathSizeInBytes,
                                 LPWSTR diskPath) {
  LinuxHandle* disk = HandleOf(virtualDisk, HandleKind::kVirtualDisk);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  if (diskPathSizeInBytes == nullptr) return ERROR_INVALID_PARAMETER;
  const int number = LoopFindByFile(disk->path);
  if (number < 0) return ERROR_NOT_FOUND;
  const std::wstring text = DriveDeviceName(number);
  const ULONG needed = static_cast<ULONG>((text.size() + 1) * sizeof(WCHAR));
  if (diskPath == nullptr || *diskPathSizeInBytes < needed) {
    *diskPathSizeInBytes = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  text.copy(diskPath, text.size());
  diskPath[text.size()] = L'\0';
  *diskPathSizeInBytes = needed;
  return ERROR_SUCCESS;
}

DWORD OpenVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path, VIRTUAL_DISK_ACCESS_MASK,
                      OPEN_VIRTUAL_DISK_FLAG, POPEN_VIRTUAL_DISK_PARAMETERS, PHANDLE handle) {
  if (path == nullptr || handle == nullptr) return ERROR_INVALID_PARAMETER;
  if (!SupportedType(storageType)) return ERROR_VIRTDISK_PROVIDER_NOT_FOUND;
  const std::string file = ToUtf8(path);
  struct stat status;
  if (stat(file.c_str(), &status) != 0) return Win32FromErrno(errno);
  if (!S_ISREG(status.st_mode)) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  // A VHDX is no VHD and the other way round, as for the platform's own
  // service; a plain file attached by other means still opens as a VHD.
  const bool isVhdx = VhdxHasSignature(file);
  if (isVhdx != (storageType->DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_VHDX))
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  *handle = NewVirtualDiskHandle(file, storageType->DeviceId);
  return ERROR_SUCCESS;
}

DWORD DetachVirtualDisk(HANDLE virtualDisk, DETACH_VIRTUAL_DISK_FLAG, ULONG) {
  LinuxHandle* disk = HandleOf(virtualDisk, HandleKind::kVirtualDisk);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  const int number = LoopFindByFile(disk->path);
  if (number < 0) return ERROR_NOT_FOUND;
  std::vector<int> volumes;
  for (const LoopBinding& binding : LoopListBindings()) {
    if (LoopDiskOf(binding) == number) volumes.push_back(binding.number);
  }
  // A mounted volume would keep its loop bound after the detach: refuse
  // before anything is changed. Every other handle on the disk or its
  // volumes has to be closed first, as Windows asks.
  if (Mounted(number)) return ERROR_SHARING_VIOLATION;
  for (int volume : volumes) {
    if (Mounted(volume)) return ERROR_SHARING_VIOLATION;
  }
  if (DeviceHandleOpen(LoopDevicePath(number))) return ERROR_BUSY;
  for (int volume : volumes) {
    if (DeviceHandleOpen(LoopDevicePath(volume))) return ERROR_BUSY;
  }
  for (int volume : volumes) {
    const DWORD code = LoopDetach(volume);
    if (code != ERROR_SUCCESS && code != ERROR_NOT_FOUND) return code;
  }
  const DWORD code = LoopDetach(number);
  return code;
}

namespace {
// The folder where the file system that holds `file` is mounted, ending in
// a separator: the host volume of a file, as a Linux path.
std::string HostFolderOf(const std::string& file) {
  struct stat fileStatus;
  if (stat(file.c_str(), &fileStatus) != 0) return "/";
  std::string folder = file.substr(0, file.find_last_of('/') + 1);
  while (folder.size() > 1) {
    std::string parent = folder.substr(0, folder.find_last_of('/', folder.size() - 2) + 1);
    struct stat parentStatus;
    if (stat(parent.c_str(), &parentStatus) != 0 || parentStatus.st_dev != fileStatus.st_dev)
      break;
    folder = parent;
  }
  return folder;
}

// The one record of a disk whose file is not a differencing disk: its file,
// named by its host volume and the path on that volume.
DWORD FillDependency(const std::string& file, const std::wstring& device, ULONG storageDevice,
                     ULONG infoSize, PSTORAGE_DEPENDENCY_INFO info, ULONG* sizeUsed) {
  const std::string host = HostFolderOf(file);
  const std::wstring strings[] = {device, FromUtf8(host), L"", FromUtf8(file.substr(host.size()))};
  size_t needed = offsetof(STORAGE_DEPENDENCY_INFO, Version2Entries) +
                  sizeof(STORAGE_DEPENDENCY_INFO_TYPE_2);
  for (const std::wstring& text : strings) needed += (text.size() + 1) * sizeof(WCHAR);
  if (sizeUsed != nullptr) *sizeUsed = static_cast<ULONG>(needed);
  if (infoSize < needed) return ERROR_INSUFFICIENT_BUFFER;
  info->NumberEntries = 1;
  STORAGE_DEPENDENCY_INFO_TYPE_2& entry = info->Version2Entries[0];
  entry = STORAGE_DEPENDENCY_INFO_TYPE_2{};
  entry.DependencyTypeFlags = static_cast<DEPENDENT_DISK_FLAG>(
      DEPENDENT_DISK_FLAG_NO_DRIVE_LETTER | DEPENDENT_DISK_FLAG_PERMANENT_LIFETIME);
  entry.VirtualStorageType.DeviceId = storageDevice;
  entry.AncestorLevel = 1;
  WCHAR* next = reinterpret_cast<WCHAR*>(&entry + 1);
  LPWSTR* fields[] = {&entry.DependencyDeviceName, &entry.HostVolumeName,
                      &entry.DependentVolumeName, &entry.DependentVolumeRelativePath};
  for (size_t i = 0; i < 4; ++i) {
    *fields[i] = next;
    strings[i].copy(next, strings[i].size());
    next[strings[i].size()] = L'\0';
    next += strings[i].size() + 1;
  }
  return ERROR_SUCCESS;
}
}  // namespace

// Only what the program asks: the host volumes of a disk handle, in version
// 2 records. A disk that no file backs is no virtual disk.
DWORD GetStorageDependencyInformation(HANDLE object, GET_STORAGE_DEPENDENCY_FLAG flags,
                                      ULONG infoSize, PSTORAGE_DEPENDENCY_INFO info,
                                      ULONG* sizeUsed) {
  LinuxHandle* disk = HandleOf(object, HandleKind::kDevice);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  const DWORD wanted = GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES |
                       GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE;
  if (info == nullptr || infoSize < offsetof(STORAGE_DEPENDENCY_INFO, Version2Entries) ||
      static_cast<DWORD>(flags) != wanted)
    return ERROR_INVALID_PARAMETER;
  if (info->Version != STORAGE_DEPENDENCY_INFO_VERSION_2) return ERROR_NOT_SUPPORTED;
  const int number = LoopNumberOfPath(disk->path);
  LoopBinding binding;
  struct stat status;
  if (number < 0 || !LoopReadBinding(number, &binding) || LoopDiskOf(binding) >= 0 ||
      stat(binding.backingFile.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  const ULONG storageDevice = VhdxHasSignature(binding.backingFile)
                                  ? VIRTUAL_STORAGE_TYPE_DEVICE_VHDX
                                  : VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
  const std::wstring device = DriveDeviceName(number);
  const DWORD code =
      FillDependency(binding.backingFile, device, storageDevice, infoSize, info, sizeUsed);
  return code;
}
