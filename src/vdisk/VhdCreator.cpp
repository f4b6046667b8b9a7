#include "vdisk/VhdCreator.h"

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "common/ReportWin32Error.h"
#include "common/UniqueHandle.h"
#include "common/VirtualStorage.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "platform.h"
#include "volumes/DetachSweep.h"
#include "volumes/DiskAttributes.h"
#include "volumes/OpenDevice.h"

namespace {
constexpr DWORD kPhysicalPathBytes = 1026;
// The payload goes to the disk past the page cache: a cached copy would be
// written twice over (the disk's cache, then the VHD file's) and throttled
// by the writeback of both.
constexpr DWORD kDiskFlags = FILE_FLAG_NO_BUFFERING;

// The creation parameters of a disk of that format: a VHDX needs the
// second version, which carries the physical sector size.
CREATE_VIRTUAL_DISK_PARAMETERS CreationParameters(VirtualDiskFormat format, uint32_t sectorSize,
                                                  uint64_t maximumSize) {
  CREATE_VIRTUAL_DISK_PARAMETERS parameters{};
  if (format == VirtualDiskFormat::kVhdx) {
    parameters.Version = CREATE_VIRTUAL_DISK_VERSION_2;
    parameters.Version2.MaximumSize = maximumSize;
    parameters.Version2.BlockSizeInBytes = 0;
    parameters.Version2.SectorSizeInBytes = sectorSize;
    parameters.Version2.PhysicalSectorSizeInBytes = sectorSize;
  } else {
    parameters.Version = CREATE_VIRTUAL_DISK_VERSION_1;
    parameters.Version1.MaximumSize = maximumSize;
    parameters.Version1.BlockSizeInBytes = 0;
    parameters.Version1.SectorSizeInBytes = sectorSize;
  }
  return parameters;
}

// The virtual disk service attaches no file that is compressed or encrypted,
// and a new file takes both from its folder. Compression is cleared here,
// before the attach; encryption cannot be, so an encrypted folder is
// refused before anything is swept or made.
// Returns: 0, or the character count of the line that refuses the folder.
int RefuseEncryptedFolder(const std::wstring& vhdPath) {
  const std::wstring folder = vhdPath.substr(0, vhdPath.find_last_of(kPathSeparators) + 1);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_ENCRYPTED) == 0)
    return 0;
  return PrintErrorLine(
      L"The temporary folder '%s' is encrypted, and a virtual disk cannot be attached from "
      L"an encrypted file; set TMP to a folder that is not encrypted.\n",
      PrintableName(folder).c_str());
}

bool IsCompressed(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_COMPRESSED) != 0;
}

// Returns: 0, or the Win32 code of the failure after reporting it.
DWORD ClearCompression(const std::wstring& vhdPath) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueHandle file(CreateFileW(vhdPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  USHORT format = COMPRESSION_FORMAT_NONE;
  DWORD returned = 0;
  if (file.Valid() && DeviceIoControl(file.Get(), FSCTL_SET_COMPRESSION, &format, sizeof(format),
                                      nullptr, 0, &returned, nullptr))
    return 0;
  const DWORD code = GetLastError();
  PrintErrorLine(L"Unable to create the VHD file uncompressed.\n");
  ReportWin32Error(code, vhdPath.c_str());
  return code;
}

// The disk's handle keeps others from writing the file: it goes while the
// compression is cleared, and the disk is opened again.
// Returns: 0, or the Win32 code of the failure after reporting it.
DWORD Uncompress(HANDLE& virtualDisk, VIRTUAL_STORAGE_TYPE& storageType,
                 const std::wstring& vhdPath) {
  CloseHandle(virtualDisk);
  virtualDisk = INVALID_HANDLE_VALUE;
  DWORD result = ClearCompression(vhdPath);
  if (result != 0) return result;
  HANDLE opened = INVALID_HANDLE_VALUE;
  result = OpenVirtualDisk(&storageType, vhdPath.c_str(), VIRTUAL_DISK_ACCESS_ALL,
                           OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &opened);
  if (result != 0) {
    ReportWin32Error(result, vhdPath.c_str());
    return result;
  }
  virtualDisk = opened;
  return 0;
}

// Creates the VHD file (a VHDX for sectors other than 512 bytes) and attaches
// it for good, without a drive letter. On success `virtualDisk` holds the
// open virtual disk handle. The virtual disk calls return their error and
// leave the thread's last error alone, so each failure is reported with the
// code the call returned.
DWORD CreateAndAttach(HANDLE& virtualDisk, uint32_t sectorSize, uint64_t maximumSize,
                      const std::wstring& vhdPath, VhdStage& stage) {
  const VirtualDiskFormat format = FormatForSectorSize(sectorSize, maximumSize);
  VIRTUAL_STORAGE_TYPE storageType = StorageTypeOf(format);
  CREATE_VIRTUAL_DISK_PARAMETERS createParameters =
      CreationParameters(format, sectorSize, maximumSize);
  // The second version of the parameters takes no access mask: the handle
  // it gives is checked at each operation instead.
  const VIRTUAL_DISK_ACCESS_MASK access =
      format == VirtualDiskFormat::kVhdx ? VIRTUAL_DISK_ACCESS_NONE : VIRTUAL_DISK_ACCESS_ALL;
  // The handle's value is undefined after a failed call: it is taken only
  // when the call succeeded.
  HANDLE created = INVALID_HANDLE_VALUE;
  DWORD result = CreateVirtualDisk(&storageType, vhdPath.c_str(), access, nullptr,
                                   CREATE_VIRTUAL_DISK_FLAG_NONE, 0, &createParameters, nullptr,
                                   &created);
  if (result == 0) virtualDisk = created;
  if (result != 0) {
    PrintErrorLine(L"Failed to create vdisk.\n");
    ReportWin32Error(result, vhdPath.c_str());
    return result;
  }
  stage = VhdStage::kCreated;
  if (IsCompressed(vhdPath)) {
    result = Uncompress(virtualDisk, storageType, vhdPath);
    if (result != 0) return result;
  }
  ATTACH_VIRTUAL_DISK_PARAMETERS attachParameters{};
  attachParameters.Version = ATTACH_VIRTUAL_DISK_VERSION_1;
  auto flags = static_cast<ATTACH_VIRTUAL_DISK_FLAG>(ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER |
                                                     ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME);
  result = AttachVirtualDisk(virtualDisk, nullptr, flags, 0, &attachParameters, nullptr);
  if (result != 0) {
    PrintNarrow("failed to attach vdisk...err 0x%x\n", static_cast<unsigned>(result));
    ReportWin32Error(result);
  } else {
    stage = VhdStage::kAttached;
  }
  return result;
}
}  // namespace

int CreateImageVhd(const FfuImage* image, const std::wstring& vhdPath, UniqueHandle& diskHandle,
                   VhdStage& stage) {
  if (image == nullptr)
    return PrintWide(L"%sThe full flash update image has not been set.\n", kErrorPrefix);
  const StoreDescription& store = *image->ChosenStore();
  if (store.sectorSize == 0) return PrintErrorLine(L"The image's sector size is 0.\n");
  uint64_t maximumSize = DiskSectorCount(store) * store.sectorSize;
  HANDLE disk = nullptr;
  int result = CreateAndAttachVhd(disk, store.sectorSize, maximumSize, vhdPath, &stage);
  diskHandle.Reset(disk);
  return result;
}

int CreateAndAttachVhd(HANDLE& diskHandle, uint32_t sectorSize, uint64_t maximumSize,
                       const std::wstring& vhdPath, VhdStage* stage) {
  VhdStage ignored = VhdStage::kNone;
  if (stage == nullptr) stage = &ignored;
  int refused = RefuseEncryptedFolder(vhdPath);
  if (refused != 0) return refused;
  // The sweep has said why it failed.
  const int swept = DetachImageDisks(SweepFor::kMount);
  if (swept != 0) return swept;

  HANDLE virtualDisk = INVALID_HANDLE_VALUE;
  DWORD result = CreateAndAttach(virtualDisk, sectorSize, maximumSize, vhdPath, *stage);
  UniqueHandle openDisk(virtualDisk);
  if (result == 0) {
    ULONG pathBytes = kPhysicalPathBytes;
    wchar_t physicalPath[kPhysicalPathBytes / sizeof(uint16_t)] = {};
    result = GetVirtualDiskPhysicalPath(virtualDisk, &pathBytes, physicalPath);
    if (result != 0) {
      PrintNarrow("failed to get vhd physical info %d\n", static_cast<int>(result));
      ReportWin32Error(result);
    } else {
      diskHandle = OpenDevice(physicalPath, kDiskFlags);
      // An attached disk that cannot be opened is no disk to copy onto.
      if (diskHandle == INVALID_HANDLE_VALUE)
        result = static_cast<DWORD>(FailWithError(0, physicalPath));
      else
        result = static_cast<DWORD>(BringDiskOnline(diskHandle));
    }
  }
  return static_cast<int>(result);
}
