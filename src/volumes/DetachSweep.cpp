#include "volumes/DetachSweep.h"

#include <cwchar>
#include <set>
#include <vector>

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/PathFunctions.h"
#include "common/ProgramLines.h"
#include "common/ReportWin32Error.h"
#include "common/UniqueHandle.h"
#include "common/VirtualStorage.h"
#include "platform.h"
#include "volumes/BackingFile.h"
#include "volumes/DriveLayout.h"
#include "volumes/OpenDevice.h"
#include "volumes/PartitionMounts.h"
#include "volumes/VolumePrivilege.h"

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
      return FailWithError(0);
    }
  }
}

bool IsPhysicalDrive(const std::wstring& name) {
  const size_t prefixLength = wcslen(kDrivePrefix);
  return name.compare(0, prefixLength, kDrivePrefix) == 0 && name.size() >= prefixLength;
}

// What the drive says about the file behind it.
struct BackingAnswer {
  std::wstring file;        // as a Win32 path; empty when neither query names one
  bool notVirtual = false;  // the drive is no virtual disk at all: a real device
};

// The backing-file control code is not documented: where it fails, the
// documented storage dependency query names the file.
BackingAnswer QueryBackingFile(HANDLE drive, const DosDeviceMap& devices) {
  BackingAnswer answer;
  wchar_t reply[kBackingFileUnits] = {};
  DWORD bytesReturned = 0;
  if (DeviceIoControl(drive, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, reply,
                      kBackingFileUnits * sizeof(wchar_t), &bytesReturned, nullptr))
    answer.file = BackingFileFromReply(reply, bytesReturned, kBackingFileUnits, devices);
  if (!answer.file.empty()) return answer;
  DWORD error = QueryDependencyBackingFile(drive, answer.file);
  answer.notVirtual = error == ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  return answer;
}

// Unmounts and detaches one disk of an earlier run, whatever its file now
// holds, and deletes that file when it is ours and still the very file the
// disk was made from (a file put in its place, or none, is not deleted).
// Every failure here concerns this disk only; the sweep goes on. The drive
// is closed before the detach, which succeeds only once no other handle
// holds the disk. Files that stay (of disks that stay attached, or put in
// place of a disk's file) are noted in `kept`.
void SweepDisk(UniqueHandle& drive, const std::wstring& backingFile,
               std::set<std::wstring>& kept) {
  const std::wstring shownFile = PrintableName(backingFile);
  const bool ours = IsOwnDiskFile(backingFile);
  const bool deleteFile = ours && IsFileOfDisk(drive.Get(), backingFile.c_str());
  if (ours && !deleteFile) kept.insert(backingFile);
  if (UnmountMainPartition(drive.Get()) != 0)
    PrintWarningLine(L"Unable to remove %s volume mount point.\n", kMainPartitionName);
  drive.Reset();
  if (DetachVhdFile(backingFile) != 0) {
    PrintWarningLine(L"Unable to detach vhd file : '%s'\n", shownFile.c_str());
    kept.insert(backingFile);
    return;
  }
  PrintWarningLine(L"Successfully detached vhd file : '%s'\n", shownFile.c_str());
  if (deleteFile && !DeleteFileW(backingFile.c_str()))
    PrintErrorLine(L"Unable to delete a temporary file : '%s'.\n", shownFile.c_str());
}

// A drive that holds nothing to look at: a reader without a card, or a
// drive that went away since the names were listed. The sweep passes it by
// without a line; any other failure gets a warning.
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

// What the sweep learns over all drives.
struct SweepState {
  std::set<std::wstring> kept;
  bool anyOpened = false;
  // Drives that could not be opened before any could: their warnings wait
  // until one opens, since a run without the rights to open any drive fails
  // with the one error line of the first.
  std::vector<std::pair<std::wstring, DWORD>> unopened;
  std::wstring realDevice;  // a device, not a virtual disk, with the image disk id
};

void WarnSkippedDrive(const std::wstring& name, DWORD error) {
  PrintWarningLine(L"Skipped drive '\\\\.\\%s' : %s\n", PrintableName(name).c_str(),
                   SystemErrorText(error).c_str());
}

// Opens one drive; a drive that cannot be opened gets its warning (held back
// while no drive has opened yet), an empty or vanished one none.
bool OpenDrive(const std::wstring& name, UniqueHandle& drive, SweepState& state) {
  drive.Reset(OpenDevice(L"\\\\.\\" + name));
  if (!drive.Valid()) {
    DWORD error = GetLastError();
    if (IsEmptyOrGone(error)) return false;
    if (state.anyOpened) WarnSkippedDrive(name, error);
    else state.unopened.emplace_back(name, error);
    return false;
  }
  if (!state.anyOpened)
    for (const auto& skipped : state.unopened) WarnSkippedDrive(skipped.first, skipped.second);
  state.anyOpened = true;
  state.unopened.clear();
  return true;
}

// Looks at one physical drive. A drive that cannot be opened or read is
// passed by with a warning. Image disks go whatever file backs them (a real
// device with the image's identity is noted and left alone); other disks
// only when that file is one of our own.
void SweepDrive(const std::wstring& name, const DosDeviceMap& devices, SweepState& state) {
  UniqueHandle drive;
  if (!OpenDrive(name, drive, state)) return;
  DriveLayout layout;
  if (const int result = QueryDriveLayout(drive.Get(), layout); result != 0) {
    const DWORD error = static_cast<DWORD>(result);
    drive.Reset();
    if (!IsEmptyOrGone(error)) WarnSkippedDrive(name, error);
    return;
  }
  BackingAnswer backing = QueryBackingFile(drive.Get(), devices);
  if (IsImageDisk(layout)) {
    if (backing.notVirtual)
      state.realDevice = L"\\\\.\\" + name;
    else if (backing.file.empty())
      PrintWarningLine(L"Unable to query vhd file name.\n");
    else
      SweepDisk(drive, backing.file, state.kept);
  } else if (!backing.file.empty() && IsOwnDiskFile(backing.file)) {
    SweepDisk(drive, backing.file, state.kept);
  }
}

// Our files that back no disk: left by a run killed after it made its VHD
// and before it attached it. Only names of our exact form go: the folder may
// be shared with the user's other programs (Windows). The files the sweep
// kept (of disks whose detach failed, or put in place of a disk's file)
// stay as well.
// Returns: 0, or the Win32 code of a temporary folder that cannot be had
// (refused, or too long), whose files then stay unswept.
int RemoveLeftoverFiles(const std::set<std::wstring>& kept) {
  std::wstring folder;
  const int folderResult = ReadTempFolder(folder);
  if (folderResult != 0) return folderResult;
  std::wstring pattern = folder + kTempFilePrefix + L"*";
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE || search == nullptr) return 0;
  std::vector<std::wstring> files;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        HasOwnTempFileForm(data.cFileName, true))
      files.push_back(folder + data.cFileName);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  for (const std::wstring& file : files)
    if (kept.count(file) == 0 && DeleteFileW(file.c_str()))
      PrintWarningLine(L"Deleted a temporary file that no disk used : '%s'\n",
                       PrintableName(file).c_str());
  return 0;
}
}  // namespace

int DetachImageDisks() {
  // Held for the rest of the run: the attach after the sweep needs it too.
  EnableVolumePrivilege();
  DosDeviceMap devices;
  if (QueryDosDevices(devices) != 0) return PrintErrorLine(L"Unable to query dos devices.\n");
  SweepState state;
  for (const auto& device : devices)
    if (IsPhysicalDrive(device.first)) SweepDrive(device.first, devices, state);
  if (!state.anyOpened && !state.unopened.empty())
    return FailWithError(state.unopened.front().second);
  const int folderResult = RemoveLeftoverFiles(state.kept);
  if (!state.realDevice.empty()) {
    PrintErrorLine(
        L"The device '%s' carries the image's disk identity and is not a "
        L"virtual disk: disconnect it and run again.\n",
        PrintableName(state.realDevice).c_str());
    SetLastError(ERROR_BUSY);
    return ERROR_BUSY;
  }
  return folderResult;
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
