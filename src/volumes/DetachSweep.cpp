#include "volumes/DetachSweep.h"

#include <cwchar>
#include <vector>

#include "common/FixedValues.h"
#include "common/PathFunctions.h"
#include "common/ReportWin32Error.h"
#include "common/VirtualStorage.h"
#include "platform.h"
#include "volumes/DriveLayout.h"
#include "volumes/OpenDevice.h"
#include "volumes/PartitionMounts.h"

namespace {
constexpr DWORD kFirstDosBufferUnits = 1024;
// The name list doubles while it does not fit; past this it is not a list.
constexpr DWORD kMaxDosBufferUnits = 1u << 24;
constexpr DWORD kBackingFileUnits = 260;

// Calls QueryDosDeviceW with a buffer that doubles while it is too small.
// On success `reply` holds the whole reply.
int QueryDosDeviceReply(const wchar_t* name, std::vector<wchar_t>& reply) {
  for (DWORD units = kFirstDosBufferUnits;; units *= 2) {
    reply.assign(units, L'\0');
    if (QueryDosDeviceW(name, reply.data(), units) != 0) {
      reply.push_back(L'\0');  // the walk below never runs off the reply
      return 0;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || units >= kMaxDosBufferUnits) {
      reply.clear();
      SetLastError(error);
      return static_cast<int>(ReportWin32Error(0));
    }
  }
}

bool IsPhysicalDrive(const std::wstring& name) {
  const size_t prefixLength = wcslen(kDrivePrefix);
  return name.compare(0, prefixLength, kDrivePrefix) == 0 && name.size() >= prefixLength;
}

bool IsOwnTempFile(const std::wstring& path) {
  return FileBaseName(path).compare(0, 3, kTempFilePrefix) == 0;
}

// Unmounts, detaches and, when it is ours, deletes the VHD behind one image
// disk. Every failure here concerns this disk only; the sweep goes on.
void SweepImageDisk(HANDLE drive) {
  wchar_t backingFile[kBackingFileUnits] = {};
  DWORD bytesReturned = 0;
  if (!DeviceIoControl(drive, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, backingFile,
                       kBackingFileUnits * sizeof(wchar_t), &bytesReturned, nullptr)) {
    PrintWide(L"(Korvex) !WARNING! Unable to query vhd file name.\n");
    return;
  }
  backingFile[kBackingFileUnits - 1] = L'\0';
  if (UnmountPartition(drive, kMainPartitionName) != 0)
    PrintWide(L"(Korvex) !WARNING! Unable to remove %s volume mount point.\n", kMainPartitionName);
  if (DetachVhdFile(backingFile) != 0) {
    PrintWide(L"(Korvex) !WARNING! Unable to detach vhd file : '%s'\n", backingFile);
    return;
  }
  PrintWide(L"(Korvex) !WARNING! Successfully detached vhd file : '%s'\n", backingFile);
  if (IsOwnTempFile(backingFile) && !DeleteFileW(backingFile))
    PrintWide(L"(Korvex) !ERROR! Unable to delete a temporary file : '%s'.\n", backingFile);
}

// Looks at one physical drive; false when the sweep has to stop there.
bool SweepDrive(const std::wstring& name) {
  HANDLE drive = OpenDevice(L"\\\\.\\" + name);
  if (drive == INVALID_HANDLE_VALUE || drive == nullptr) return false;
  DriveLayout layout;
  if (GetDriveLayout(drive, layout) != 0) {
    DWORD error = GetLastError();
    CloseHandle(drive);
    SetLastError(error);
    return false;
  }
  if (IsImageDisk(layout)) SweepImageDisk(drive);
  CloseHandle(drive);
  return true;
}

// A virtual disk call failed: report the thread's error, or the call's own
// result when the thread has none, so that the failure is never 0.
int ReportVirtualDiskFailure(DWORD callResult) {
  if (GetLastError() == 0) SetLastError(callResult);
  return static_cast<int>(ReportWin32Error(0));
}
}  // namespace

int DetachImageDisks() {
  DosDeviceMap devices;
  if (QueryDosDevices(devices) != 0)
    return PrintWide(L"(Korvex) !ERROR! Unable to query dos devices.\n");
  for (const auto& device : devices) {
    if (!IsPhysicalDrive(device.first)) continue;
    if (!SweepDrive(device.first)) return static_cast<int>(ReportWin32Error(0));
  }
  return 0;
}

int QueryDosDevices(DosDeviceMap& devices) {
  std::vector<wchar_t> reply;
  int result = QueryDosDeviceReply(nullptr, reply);
  if (result != 0) return result;
  size_t position = 0;
  while (position < reply.size() && reply[position] != L'\0') {
    std::wstring name(&reply[position]);
    position += name.size() + 1;
    std::wstring target;
    QueryDosDeviceTarget(name, target);
    devices.emplace(name, target);
  }
  return 0;
}

int QueryDosDeviceTarget(const std::wstring& name, std::wstring& target) {
  std::vector<wchar_t> reply;
  int result = QueryDosDeviceReply(name.c_str(), reply);
  if (result == 0) target.assign(reply.data());
  return result;
}

int DetachVhdFile(const std::wstring& backingFile) {
  VIRTUAL_STORAGE_TYPE storageType = VhdStorageType();
  HANDLE virtualDisk = INVALID_HANDLE_VALUE;
  DWORD result = OpenVirtualDisk(&storageType, backingFile.c_str(), VIRTUAL_DISK_ACCESS_DETACH,
                                 OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &virtualDisk);
  if (result != 0) {
    PrintNarrow("failed to open vdisk...err %d\n", static_cast<int>(result));
    return ReportVirtualDiskFailure(result);
  }
  result = DetachVirtualDisk(virtualDisk, DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
  if (result != 0) {
    PrintNarrow("failed to detach vdisk... %d\n", static_cast<int>(result));
    CloseHandle(virtualDisk);
    return ReportVirtualDiskFailure(result);
  }
  if (virtualDisk != INVALID_HANDLE_VALUE) CloseHandle(virtualDisk);
  return 0;
}
