#include "volumes/DetachSweep.h"

#include <cwchar>
#include <set>
#include <vector>

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/UniqueHandle.h"
#include "common/VirtualStorage.h"
#include "platform.h"
#include "volumes/BackingFile.h"
#include "volumes/DriveLayout.h"
#include "volumes/OpenDevice.h"
#include "volumes/PartitionMounts.h"

namespace {
constexpr DWORD kFirstDosBufferUnits = 1024;
// The name list doubles while it does not fit; past this it is not a list.
constexpr DWORD kMaxDosBufferUnits = 1u << 24;
constexpr DWORD kBackingFileUnits = 260;
constexpr DWORD kTempPathUnits = 260;

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
      return FailWithError(0);
    }
  }
}

bool IsPhysicalDrive(const std::wstring& name) {
  const size_t prefixLength = wcslen(kDrivePrefix);
  return name.compare(0, prefixLength, kDrivePrefix) == 0 && name.size() >= prefixLength;
}

// The file behind the drive, as a Win32 path; empty when the query fails or
// names nothing.
std::wstring QueryBackingFile(HANDLE drive, const DosDeviceMap& devices) {
  wchar_t reply[kBackingFileUnits] = {};
  DWORD bytesReturned = 0;
  if (!DeviceIoControl(drive, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, reply,
                       kBackingFileUnits * sizeof(wchar_t), &bytesReturned, nullptr))
    return std::wstring();
  return BackingFileFromReply(reply, bytesReturned, kBackingFileUnits, devices);
}

// Unmounts and detaches one disk of an earlier run and deletes its file
// when `deleteFile` says it is ours. Every failure here concerns this disk
// only; the sweep goes on.
// Files of disks that stay attached are noted in `inUse`.
void SweepDisk(HANDLE drive, const std::wstring& backingFile, bool deleteFile,
               std::set<std::wstring>& inUse) {
  if (UnmountMainPartition(drive) != 0)
    PrintWide(L"(Korvex) !WARNING! Unable to remove %s volume mount point.\n", kMainPartitionName);
  if (DetachVhdFile(backingFile) != 0) {
    PrintWide(L"(Korvex) !WARNING! Unable to detach vhd file : '%s'\n", backingFile.c_str());
    inUse.insert(backingFile);
    return;
  }
  PrintWide(L"(Korvex) !WARNING! Successfully detached vhd file : '%s'\n", backingFile.c_str());
  if (deleteFile && !DeleteFileW(backingFile.c_str()))
    PrintWide(L"(Korvex) !ERROR! Unable to delete a temporary file : '%s'.\n",
              backingFile.c_str());
}

// A drive that holds nothing to look at: a reader without a card, or a
// drive that went away since the names were listed. The sweep passes it by
// without a line; any other failure stops the sweep.
bool IsEmptyOrGone(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NO_SUCH_DEVICE:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_DEVICE_NOT_CONNECTED:
      return true;
    default:
      return false;
  }
}

// Looks at one physical drive; false when the sweep has to stop there.
// Image disks go whatever file backs them; other disks only when that file
// is one of our own (IsOwnDiskFile): such a disk is ours whatever it holds,
// even no GPT at all, as after a run that was killed before it wrote one.
// Only our own files are deleted.
bool SweepDrive(const std::wstring& name, const DosDeviceMap& devices,
                std::set<std::wstring>& inUse) {
  UniqueHandle drive(OpenDevice(L"\\\\.\\" + name));
  if (!drive.Valid()) return IsEmptyOrGone(GetLastError());
  DriveLayout layout;
  if (QueryDriveLayout(drive.Get(), layout) != 0) {
    DWORD error = GetLastError();
    drive.Reset();
    if (IsEmptyOrGone(error)) return true;
    SetLastError(error);
    ReportDriveLayoutFailure();
    SetLastError(error);
    return false;
  }
  if (IsImageDisk(layout)) {
    std::wstring backingFile = QueryBackingFile(drive.Get(), devices);
    if (backingFile.empty())
      PrintWide(L"(Korvex) !WARNING! Unable to query vhd file name.\n");
    else
      SweepDisk(drive.Get(), backingFile, IsOwnDiskFile(backingFile), inUse);
  } else {
    std::wstring backingFile = QueryBackingFile(drive.Get(), devices);
    if (!backingFile.empty() && IsOwnDiskFile(backingFile))
      SweepDisk(drive.Get(), backingFile, true, inUse);
  }
  return true;
}

// Our files that back no disk: left by a run killed after it made its VHD
// and before it attached it. Only names of our exact form go: the folder may
// be shared with the user's other programs (Windows). The files of disks
// that stay attached (their detach failed) stay as well.
void RemoveLeftoverFiles(const std::set<std::wstring>& inUse) {
  wchar_t folder[kTempPathUnits] = {};
  DWORD length = GetTempPathW(kTempPathUnits, folder);
  if (length == 0 || length >= kTempPathUnits) return;
  std::wstring pattern = std::wstring(folder, length) + kTempFilePrefix + L"*";
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE || search == nullptr) return;
  std::vector<std::wstring> files;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        HasOwnTempFileForm(data.cFileName, true))
      files.push_back(std::wstring(folder, length) + data.cFileName);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  for (const std::wstring& file : files)
    if (inUse.count(file) == 0 && DeleteFileW(file.c_str()))
      PrintWide(L"(Korvex) !WARNING! Deleted a temporary file that no disk used : '%s'\n",
                file.c_str());
}
}  // namespace

int DetachImageDisks() {
  DosDeviceMap devices;
  if (QueryDosDevices(devices) != 0)
    return FailWithLine(L"(Korvex) !ERROR! Unable to query dos devices.\n");
  std::set<std::wstring> inUse;
  for (const auto& device : devices) {
    if (!IsPhysicalDrive(device.first)) continue;
    if (!SweepDrive(device.first, devices, inUse)) return FailWithError(0);
  }
  RemoveLeftoverFiles(inUse);
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
  VIRTUAL_STORAGE_TYPE storageType = StorageTypeOf(FormatOfFile(backingFile));
  HANDLE opened = INVALID_HANDLE_VALUE;
  DWORD result = OpenVirtualDisk(&storageType, backingFile.c_str(), VIRTUAL_DISK_ACCESS_DETACH,
                                 OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &opened);
  if (result != 0) {
    PrintNarrow("failed to open vdisk...err %d\n", static_cast<int>(result));
    return FailWithError(result);
  }
  UniqueHandle virtualDisk(opened);
  result = DetachVirtualDisk(virtualDisk.Get(), DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
  if (result != 0) {
    PrintNarrow("failed to detach vdisk... %d\n", static_cast<int>(result));
    return FailWithError(result);
  }
  return 0;
}
