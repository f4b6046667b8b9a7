// Device control requests on disks and partition volumes.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "last_error.h"
#include "support/formats/gpt.h"
#include "support/kernel/inode_flags.h"
#include "support/kernel/loop_device.h"
#include "support/kernel/partition_volumes.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/text.h"

namespace {

const ULONGLONG kDiskAttributeReadOnly = 0x2;

void SetReturned(LPDWORD bytesReturned, DWORD count) {
  if (bytesReturned != nullptr) *bytesReturned = count;
}

// The loop number of a device handle; -1 when its node is not a loop.
int LoopOf(const LinuxHandle& device) {
  return LoopNumberOfPath(device.path);
}

bool IsBlockDevice(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISBLK(status.st_mode);
}

DWORD GetDriveLayout(const LinuxHandle& device, LPVOID out, DWORD outSize, LPDWORD returned) {
  DiskLayout layout;
  DWORD code = ReadDiskLayout(device.fd, &layout);
  if (code != ERROR_SUCCESS) return code;
  DWORD written = 0;
  code = FillDriveLayout(layout, out, outSize, &written);
  if (code != ERROR_SUCCESS) return code;
  SetReturned(returned, written);
  return ERROR_SUCCESS;
}

bool Matches(const LoopBinding& volume, const DiskLayout& layout) {
  for (const DiskPartition& partition : layout.partitions) {
    if (partition.startBytes == volume.offset && partition.lengthBytes == volume.sizeLimit) {
      return true;
    }
  }
  return false;
}

bool HasVolume(const std::vector<LoopBinding>& volumes, const DiskPartition& partition) {
  for (const LoopBinding& volume : volumes) {
    if (volume.offset == partition.startBytes && volume.sizeLimit == partition.lengthBytes) {
      return true;
    }
  }
  return false;
}

// A volume name is unique on the system: a partition whose GUID already
// names a volume of another disk (a second disk of the same image) does not
// arrive, as a disk whose identity collides with an online one stays offline.
bool NamedByAnotherDisk(const DiskPartition& partition, int disk) {
  for (const PartitionVolume& volume : ListPartitionVolumes()) {
    if (volume.diskNumber != disk && SameDiskGuid(volume.partitionId, partition.partitionId)) {
      return true;
    }
  }
  return false;
}

bool GetsVolume(const DiskPartition& partition) {
  return GetsGptVolume(partition.typeId, partition.attributes);
}

// Re-reads the table and makes the volume set match it: volumes of
// partitions that are gone go, each new partition gets its volume.
DWORD UpdateProperties(const LinuxHandle& device) {
  const int disk = LoopOf(device);
  LoopBinding binding;
  if (disk < 0 || !LoopReadBinding(disk, &binding) || LoopDiskOf(binding) >= 0) {
    return ERROR_INVALID_FUNCTION;
  }
  // Volumes read the disk below its page cache: what was written through
  // this handle has to be there first.
  if (fsync(device.fd) != 0 && errno != EINVAL) return Win32FromErrno(errno);
  DiskLayout layout;
  DWORD code = ReadDiskLayout(device.fd, &layout);
  if (code != ERROR_SUCCESS) return code;
  if (layout.style != PARTITION_STYLE_GPT) layout.partitions.clear();
  std::vector<DiskPartition> withVolumes;
  for (const DiskPartition& partition : layout.partitions)
    if (GetsVolume(partition)) withVolumes.push_back(partition);
  layout.partitions = withVolumes;
  std::vector<LoopBinding> current;
  for (const LoopBinding& volume : LoopListBindings()) {
    if (LoopDiskOf(volume) != disk) continue;
    if (Matches(volume, layout)) {
      current.push_back(volume);
    } else if ((code = LoopDetach(volume.number)) != ERROR_SUCCESS && code != ERROR_NOT_FOUND) {
      return code;
    }
  }
  const bool readOnly = (fcntl(device.fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
  for (const DiskPartition& partition : layout.partitions) {
    if (partition.lengthBytes == 0 || HasVolume(current, partition)) continue;
    if (NamedByAnotherDisk(partition, disk)) continue;
    LoopAttachRequest request;
    request.backingPath = device.path;
    request.offset = partition.startBytes;
    request.sizeLimit = partition.lengthBytes;
    request.blockSize = LoopLogicalBlockSize(device.fd);
    request.readOnly = readOnly;
    int number = -1;
    code = LoopAttach(request, &number);
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

DWORD GetDiskAttributes(const LinuxHandle& device, LPVOID out, DWORD outSize, LPDWORD returned) {
  if (!IsBlockDevice(device.fd)) return ERROR_INVALID_FUNCTION;
  if (out == nullptr || outSize < sizeof(GET_DISK_ATTRIBUTES)) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  int readOnly = 0;
  GET_DISK_ATTRIBUTES attributes;
  memset(&attributes, 0, sizeof(attributes));
  attributes.Version = sizeof(GET_DISK_ATTRIBUTES);
  if (ioctl(device.fd, BLKROGET, &readOnly) == 0 && readOnly != 0) {
    attributes.Attributes = kDiskAttributeReadOnly;
  }
  memcpy(out, &attributes, sizeof(attributes));
  SetReturned(returned, sizeof(attributes));
  return ERROR_SUCCESS;
}

// Clears or sets the read-only state of a disk for this attachment. A loop
// device is never offline: that bit is taken and changes nothing. A disk
// that stays read-only after the change (a loop bound read-only) fails.
DWORD SetDiskAttributes(const LinuxHandle& device, LPVOID in, DWORD inSize) {
  if (!IsBlockDevice(device.fd)) return ERROR_INVALID_FUNCTION;
  SET_DISK_ATTRIBUTES change;
  if (in == nullptr || inSize < sizeof(change)) return ERROR_INVALID_PARAMETER;
  memcpy(&change, in, sizeof(change));
  if (change.Version != sizeof(SET_DISK_ATTRIBUTES)) return ERROR_INVALID_PARAMETER;
  if ((change.AttributesMask & kDiskAttributeReadOnly) == 0) return ERROR_SUCCESS;
  int readOnly = (change.Attributes & kDiskAttributeReadOnly) != 0 ? 1 : 0;
  if (ioctl(device.fd, BLKROSET, &readOnly) != 0) return Win32FromErrno(errno);
  int now = 0;
  if (ioctl(device.fd, BLKROGET, &now) == 0 && now != readOnly)
    return ERROR_WRITE_PROTECT;
  return ERROR_SUCCESS;
}

// A disk whose file has lost its name (deleted, or another file moved over
// it) is still a virtual disk: the reply names the file it was made from.
DWORD GetBackingFile(const LinuxHandle& device, LPVOID out, DWORD outSize, LPDWORD returned) {
  LoopBinding binding;
  struct stat status;
  if (!LoopReadBinding(LoopOf(device), &binding)) return ERROR_INVALID_FUNCTION;
  bool named = true;
  const std::string file = LoopFileName(binding, &named);
  if (named && (stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode))) {
    return ERROR_NOT_SUPPORTED;
  }
  const std::wstring path = FromUtf8(file);
  const size_t needed = (path.size() + 1) * sizeof(WCHAR);
  if (out == nullptr || outSize < needed) return ERROR_INSUFFICIENT_BUFFER;
  WCHAR* text = static_cast<WCHAR*>(out);
  path.copy(text, path.size());
  text[path.size()] = L'\0';
  SetReturned(returned, static_cast<DWORD>(needed));
  return ERROR_SUCCESS;
}

// The disk a device lies on: a disk is PhysicalDriveN itself (partition 0);
// a partition volume carries its disk's number and its own partition number.
DWORD GetDeviceNumber(const LinuxHandle& device, LPVOID out, DWORD outSize, LPDWORD returned) {
  LoopBinding binding;
  const int number = LoopOf(device);
  if (number < 0 || !LoopReadBinding(number, &binding)) return ERROR_INVALID_FUNCTION;
  if (out == nullptr || outSize < sizeof(STORAGE_DEVICE_NUMBER)) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  STORAGE_DEVICE_NUMBER answer{FILE_DEVICE_DISK, static_cast<DWORD>(number), 0};
  if (LoopDiskOf(binding) >= 0) {
    PartitionVolume volume;
    if (!FindPartitionVolumeByNumber(number, &volume)) return ERROR_INVALID_FUNCTION;
    DiskLayout layout;
    const DWORD code = ReadLoopLayout(volume.diskNumber, &layout);
    if (code != ERROR_SUCCESS) return code;
    answer.DeviceNumber = static_cast<DWORD>(volume.diskNumber);
    for (const DiskPartition& partition : layout.partitions) {
      if (partition.startBytes == volume.offset) answer.PartitionNumber = partition.number;
    }
  }
  memcpy(out, &answer, sizeof(answer));
  SetReturned(returned, sizeof(answer));
  return ERROR_SUCCESS;
}

// The bus a block device hangs on, by the path of its device in sysfs.
STORAGE_BUS_TYPE BusOfBlockDevice(dev_t device) {
  const std::string link =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  if (realpath(link.c_str(), resolved) == nullptr) return BusTypeUnknown;
  const std::string path = resolved;
  const struct {
    const char* part;
    STORAGE_BUS_TYPE bus;
  } buses[] = {{"/usb", BusTypeUsb},  {"/nvme", BusTypeNvme},   {"/mmc", BusTypeSd},
               {"/ata", BusTypeSata}, {"/virtio", BusTypeScsi}, {"/host", BusTypeScsi},
               {"/md", BusTypeRAID}};
  for (const auto& bus : buses)
    if (path.find(bus.part) != std::string::npos) return bus.bus;
  return BusTypeUnknown;
}

// What bus the disk of a device is on: a loop over a file is a file-backed
// virtual disk (also once the file has lost its name); a partition volume
// answers for its disk; a loop over a block device stands for that device.
DWORD BusOfLoop(int number, STORAGE_BUS_TYPE* bus) {
  LoopBinding binding;
  if (number < 0 || !LoopReadBinding(number, &binding)) return ERROR_INVALID_FUNCTION;
  const int disk = LoopDiskOf(binding);
  if (disk >= 0) return BusOfLoop(disk, bus);
  bool named = true;
  const std::string file = LoopFileName(binding, &named);
  struct stat status;
  if (named && stat(file.c_str(), &status) == 0 && S_ISBLK(status.st_mode)) {
    *bus = BusOfBlockDevice(status.st_rdev);
  } else {
    *bus = BusTypeFileBackedVirtual;
  }
  return ERROR_SUCCESS;
}

// The storage device property, with its fixed part only: no vendor, product
// or serial strings. A buffer too small for the whole descriptor gets what
// fits, its header telling the size. Returns: a Win32 code.
DWORD QueryProperty(const LinuxHandle& device, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                    LPDWORD returned) {
  STORAGE_PROPERTY_QUERY query;
  if (in == nullptr || inSize < sizeof(query)) return ERROR_INVALID_PARAMETER;
  memcpy(&query, in, sizeof(query));
  if (query.PropertyId != StorageDeviceProperty) return ERROR_NOT_SUPPORTED;
  if (query.QueryType != PropertyStandardQuery) return ERROR_INVALID_PARAMETER;
  if (out == nullptr || outSize < sizeof(STORAGE_DESCRIPTOR_HEADER))
    return ERROR_INSUFFICIENT_BUFFER;
  STORAGE_DEVICE_DESCRIPTOR descriptor;
  memset(&descriptor, 0, sizeof(descriptor));
  descriptor.Version = sizeof(descriptor);
  descriptor.Size = sizeof(descriptor);
  const DWORD code = BusOfLoop(LoopOf(device), &descriptor.BusType);
  if (code != ERROR_SUCCESS) return code;
  const DWORD count = outSize < sizeof(descriptor) ? outSize : sizeof(descriptor);
  memcpy(out, &descriptor, count);
  SetReturned(returned, count);
  return ERROR_SUCCESS;
}

// A file's compression, through its kernel flag; the handle must be open for
// reading and writing, as the request's code asks. Returns: a Win32 code.
DWORD SetCompression(const LinuxHandle& file, LPVOID inBuffer, DWORD inBufferSize) {
  if (inBuffer == nullptr || inBufferSize < sizeof(USHORT)) return ERROR_INVALID_PARAMETER;
  if ((fcntl(file.fd, F_GETFL) & O_ACCMODE) != O_RDWR) return ERROR_ACCESS_DENIED;
  USHORT format = 0;
  memcpy(&format, inBuffer, sizeof(format));
  if (format > COMPRESSION_FORMAT_LZNT1) return ERROR_INVALID_PARAMETER;
  return SetInodeCompression(file.fd, format != COMPRESSION_FORMAT_NONE);
}

// One request on a disk or volume. Returns: a Win32 code.
DWORD Answer(const LinuxHandle& device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
             LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned) {
  // A request's code names the access its handle needs (bits 14 and 15:
  // read, write); 0 asks for none.
  const DWORD needs = (ioControlCode >> 14) & 3;
  if (((needs & 1) != 0 && (device.access & GENERIC_READ) == 0) ||
      ((needs & 2) != 0 && (device.access & GENERIC_WRITE) == 0))
    return ERROR_ACCESS_DENIED;
  switch (ioControlCode) {
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
      return GetDriveLayout(device, outBuffer, outBufferSize, bytesReturned);
    case IOCTL_DISK_UPDATE_PROPERTIES:
      return UpdateProperties(device);
    case IOCTL_DISK_GET_DISK_ATTRIBUTES:
      return GetDiskAttributes(device, outBuffer, outBufferSize, bytesReturned);
    case IOCTL_DISK_SET_DISK_ATTRIBUTES:
      return SetDiskAttributes(device, inBuffer, inBufferSize);
    case IOCTL_STORAGE_GET_BACKING_FILE:
      return GetBackingFile(device, outBuffer, outBufferSize, bytesReturned);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      return GetDeviceNumber(device, outBuffer, outBufferSize, bytesReturned);
    case IOCTL_STORAGE_QUERY_PROPERTY:
      return QueryProperty(device, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

}  // namespace

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED) {
  SetReturned(bytesReturned, 0);
  // Every Linux file keeps the ranges that are never written as holes.
  if (ioControlCode == FSCTL_SET_SPARSE && HandleOf(device, HandleKind::kFile) != nullptr) {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (ioControlCode == FSCTL_SET_COMPRESSION && HandleOf(device, HandleKind::kFile) != nullptr) {
    const DWORD code = SetCompression(*HandleOf(device, HandleKind::kFile), inBuffer, inBufferSize);
    return code == ERROR_SUCCESS ? TRUE : FailWith(code);
  }
  LinuxHandle* handle = HandleOf(device, HandleKind::kDevice);
  if (handle == nullptr) {
    // A file or console handle answers no other request.
    const bool isHandle = device != nullptr && device != INVALID_HANDLE_VALUE;
    return FailWith(isHandle ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
  }
  const DWORD code = Answer(*handle, ioControlCode, inBuffer, inBufferSize, outBuffer,
                            outBufferSize, bytesReturned);
  return code == ERROR_SUCCESS ? TRUE : FailWith(code);
}
