// The virtual disk service over fixed VHD files and loop devices.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "support/errors.h"
#include "support/handle.h"
#include "support/loop_device.h"
#include "support/mountinfo.h"
#include "support/text.h"
#include "support/vhd.h"

namespace {

bool SupportedType(const VIRTUAL_STORAGE_TYPE* storageType) {
  return storageType != nullptr && storageType->DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  free(real);
  return resolved;
}

HANDLE NewVirtualDiskHandle(const std::string& path) {
  return NewHandle(HandleKind::VirtualDisk, -1, RealPath(path));
}

bool Mounted(int loopNumber) {
  return !MountsOfDevice(LoopDevicePath(loopNumber)).empty();
}

}  // namespace

DWORD CreateVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path,
                        VIRTUAL_DISK_ACCESS_MASK, PSECURITY_DESCRIPTOR,
                        CREATE_VIRTUAL_DISK_FLAG, ULONG,
                        PCREATE_VIRTUAL_DISK_PARAMETERS parameters, LPOVERLAPPED,
                        PHANDLE handle) {
  if (path == nullptr || parameters == nullptr || handle == nullptr ||
      parameters->Version != CREATE_VIRTUAL_DISK_VERSION_1) {
    return FailCode(ERROR_INVALID_PARAMETER);
  }
  if (!SupportedType(storageType)) return FailCode(ERROR_VIRTDISK_PROVIDER_NOT_FOUND);
  const ULONG sectorSize =
      parameters->Version1.SectorSizeInBytes != 0 ? parameters->Version1.SectorSizeInBytes : 512;
  const std::string file = ToUtf8(path);
  const DWORD code = VhdCreateFile(file, parameters->Version1.MaximumSize, sectorSize);
  if (code != ERROR_SUCCESS) return FailCode(code);
  *handle = NewVirtualDiskHandle(file);
  return ERROR_SUCCESS;
}

DWORD AttachVirtualDisk(HANDLE virtualDisk, PSECURITY_DESCRIPTOR, ATTACH_VIRTUAL_DISK_FLAG flags,
                        ULONG, PATTACH_VIRTUAL_DISK_PARAMETERS, LPOVERLAPPED) {
  LinuxHandle* disk = HandleOf(virtualDisk, HandleKind::VirtualDisk);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  LoopAttachRequest request;
  request.backingPath = disk->path;
  request.readOnly = (flags & ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY) != 0;
  DWORD code = VhdOpenFile(disk->path, &request.sizeLimit, &request.blockSize);
  if (code != ERROR_SUCCESS) return FailCode(code);
  if (LoopFindByFile(disk->path) >= 0) return FailCode(ERROR_SHARING_VIOLATION);
  int number = -1;
  code = LoopAttach(request, &number);
  return code == ERROR_SUCCESS ? ERROR_SUCCESS : FailCode(code);
}

DWORD GetVirtualDiskPhysicalPath(HANDLE virtualDisk, ULONG* diskPathSizeInBytes,
                                 LPWSTR diskPath) {
  LinuxHandle* disk = HandleOf(virtualDisk, HandleKind::VirtualDisk);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  if (diskPathSizeInBytes == nullptr) return FailCode(ERROR_INVALID_PARAMETER);
  const int number = LoopFindByFile(disk->path);
  if (number < 0) return FailCode(ERROR_NOT_FOUND);
  const std::wstring text = std::wstring(L"\\\\.\\") + kDrivePrefix + std::to_wstring(number);
  const ULONG needed = static_cast<ULONG>((text.size() + 1) * sizeof(WCHAR));
  if (diskPath == nullptr || *diskPathSizeInBytes < needed) {
    *diskPathSizeInBytes = needed;
    return FailCode(ERROR_INSUFFICIENT_BUFFER);
  }
  text.copy(diskPath, text.size());
  diskPath[text.size()] = L'\0';
  *diskPathSizeInBytes = needed;
  return ERROR_SUCCESS;
}

DWORD OpenVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path, VIRTUAL_DISK_ACCESS_MASK,
                      OPEN_VIRTUAL_DISK_FLAG, POPEN_VIRTUAL_DISK_PARAMETERS, PHANDLE handle) {
  if (path == nullptr || handle == nullptr) return FailCode(ERROR_INVALID_PARAMETER);
  if (!SupportedType(storageType)) return FailCode(ERROR_VIRTDISK_PROVIDER_NOT_FOUND);
  const std::string file = ToUtf8(path);
  struct stat status;
  if (stat(file.c_str(), &status) != 0) return SetLastErrorFromErrno(errno);
  if (!S_ISREG(status.st_mode)) return FailCode(ERROR_VIRTDISK_NOT_VIRTUAL_DISK);
  *handle = NewVirtualDiskHandle(file);
  return ERROR_SUCCESS;
}

DWORD DetachVirtualDisk(HANDLE virtualDisk, DETACH_VIRTUAL_DISK_FLAG, ULONG) {
  LinuxHandle* disk = HandleOf(virtualDisk, HandleKind::VirtualDisk);
  if (disk == nullptr) return ERROR_INVALID_HANDLE;
  const int number = LoopFindByFile(disk->path);
  if (number < 0) return FailCode(ERROR_NOT_FOUND);
  std::vector<int> volumes;
  for (const LoopBinding& binding : LoopListBindings()) {
    if (LoopDiskOf(binding) == number) volumes.push_back(binding.number);
  }
  // A mounted volume would keep its loop bound after the detach: refuse
  // before anything is changed.
  if (Mounted(number)) return FailCode(ERROR_SHARING_VIOLATION);
  for (int volume : volumes) {
    if (Mounted(volume)) return FailCode(ERROR_SHARING_VIOLATION);
  }
  for (int volume : volumes) {
    const DWORD code = LoopDetach(volume);
    if (code != ERROR_SUCCESS && code != ERROR_NOT_FOUND) return FailCode(code);
  }
  const DWORD code = LoopDetach(number);
  return code == ERROR_SUCCESS ? ERROR_SUCCESS : FailCode(code);
}
