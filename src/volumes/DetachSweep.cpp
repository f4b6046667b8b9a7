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
// On success `reply` holds the whole reply. Prints nothing.
// Returns: 0, or the Win32 error code.
DWORD QueryDosDeviceReply(const wchar_t* name, std::vector<wchar_t>& reply) {
  for (DWORD units = kFirstDosBufferUnits;; units *= 2) {
    reply.assign(units, L'\0');
    if (QueryDosDeviceW(name, reply.data(), units) != 0) {
      reply.push_back(L'\0');  // the walk below never runs off the reply
      return 0;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || units >= kMaxDosBufferUnits) {
      reply.clear();
      return error != 0 ? error : ERROR_GEN_FAILURE;
    }
  }
}

bool IsPhysicalDrive(const std::wstring& name) {
  const size_t prefixLength = wcslen(kDrivePrefix);
  return name.compare(0, prefixLength, kDrivePrefix) == 0 && name.size() >= prefixLength;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file behind a virtual disk, as a Win32 path; empty when no query names
// one. The backing-file control code is not documented: where it fails, or
// names a path where no file is, the documented storage dependency query is
// asked. A path that neither finds is still the disk's name for its file
// (one deleted while the disk was attached).
std::wstring QueryBackingFile(HANDLE drive, const DosDeviceMap& devices) {
  std::wstring file;
  wchar_t reply[kBackingFileUnits] = {};
  DWORD bytesReturned = 0;
  if (DeviceIoControl(drive, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, reply,
                      kBackingFileUnits * sizeof(wchar_t), &bytesReturned, nullptr))
    file = BackingFileFromReply(reply, bytesReturned, kBackingFileUnits, devices);
  if (!file.empty() && FileExists(file)) return file;
  std::wstring documented;
  if (QueryDependencyBackingFile(drive, documented) != ERROR_SUCCESS || documented.empty())
    return file;
  return file.empty() || FileExists(documented) ? documented : file;
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
  // The layout needs read access, the other queries none.
  drive.Reset(OpenDeviceToQuery(L"\\\\.\\" + name, GENERIC_READ));
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
  // Only a file-backed virtual disk is an earlier run's; any other disk
  // with the image's identity, or one that does not say what it is, is a
  // device flashed from the image.
  const bool imageDisk = IsImageDisk(layout);
  if (!IsFileBackedVirtualDisk(drive.Get())) {
    if (imageDisk && state.realDevice.empty()) state.realDevice = L"\\\\.\\" + name;
    return;
  }
  const std::wstring backingFile = QueryBackingFile(drive.Get(), devices);
  if (imageDisk && backingFile.empty())
    PrintWarningLine(L"Unable to query vhd file name.\n");
  else if (imageDisk || (!backingFile.empty() && IsOwnDiskFile(backingFile)))
    SweepDisk(drive, backingFile, state.kept);
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

int DetachImageDisks(SweepFor purpose) {
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
  if (purpose == SweepFor::kMount && !state.realDevice.empty()) {
    PrintErrorLine(
        L"The device '%s' carries the image's disk identity and is not a "
        L"virtual disk: disconnect it and run again.\n",
        PrintableName(state.realDevice).c_str());
    return ERROR_BUSY;
  }
  return folderResult;
}

int QueryDosDevices(DosDeviceMap& devices) {
  std::vector<wchar_t> reply;
  const DWORD error = QueryDosDeviceReply(nullptr, reply);
  if (error != 0) return FailWithError(error);
  size_t position = 0;
  while (position < reply.size() && reply[position] != L'\0') {
    std::wstring name(&reply[position]);
    position += name.size() + 1;
    // A device that went away since the list was made keeps no target.
    std::vector<wchar_t> target;
    QueryDosDeviceReply(name.c_str(), target);
    devices.emplace(name, target.empty() ? std::wstring() : std::wstring(target.data()));
  }
  return 0;
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
