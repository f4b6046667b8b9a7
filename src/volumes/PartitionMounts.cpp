#include "volumes/PartitionMounts.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "common/Failure.h"
#include "common/FormatWide.h"
#include "common/Interruption.h"
#include "common/PathFunctions.h"
#include "common/ProgramLines.h"
#include "common/StatusLine.h"
#include "common/UniqueHandle.h"
#include "ffu/MountChoice.h"
#include "platform.h"
#include "volumes/DriveLayout.h"
#include "volumes/OpenDevice.h"
#include "volumes/PartitionChoice.h"
#include "volumes/VolumeNames.h"

namespace {
constexpr DWORD kVolumeNameUnits = 260;
constexpr DWORD kVolumePollMs = 250;
// A volume that has not arrived after this long will not arrive.
constexpr DWORD kVolumeWaitMs = 30000;

// The entry's volume once it has arrived: by the name its partition GUID
// suggests where that opens, else by the name the system gives the volume
// on that disk and partition.
bool ArrivedVolume(HANDLE disk, const PARTITION_INFORMATION_EX& entry, std::wstring& volumeName) {
  UniqueHandle guessed(OpenDeviceToQuery(MakeVolumeDevicePath(entry), 0));
  if (guessed.Valid()) {
    volumeName = MakeVolumeGuidPath(entry);
    return true;
  }
  return FindVolumeOfPartition(disk, entry.PartitionNumber, volumeName);
}

// Waits until the entry's volume has arrived. Returns 0; ERROR_TIMEOUT when
// it has not within the bound; ERROR_OPERATION_ABORTED when the run is interrupted.
DWORD WaitForVolume(HANDLE disk, const PARTITION_INFORMATION_EX& entry, std::wstring& volumeName) {
  for (DWORD waited = 0;; waited += kVolumePollMs) {
    if (Interrupted()) return ERROR_OPERATION_ABORTED;
    if (ArrivedVolume(disk, entry, volumeName)) return 0;
    if (waited >= kVolumeWaitMs) return ERROR_TIMEOUT;
    Sleep(kVolumePollMs);
  }
}

wchar_t FoldAsciiCase(wchar_t character) {
  return character >= L'a' && character <= L'z' ? static_cast<wchar_t>(character - L'a' + L'A')
                                                 : character;
}

// Volume names are compared without regard to case: the GUID text built here
// is upper case, the names that Windows hands out are lower case.
bool SameVolumeName(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != L'\0'; ++i)
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  return i == a.size() && b[i] == L'\0';
}

// "Directory not empty" is only success when the folder already is a mount
// point of this very volume, as after a repeated mount.
bool AlreadyMountedHere(const std::wstring& folder, const std::wstring& volumeName) {
  wchar_t mounted[kVolumeNameUnits] = {};
  return GetVolumeNameForVolumeMountPointW(folder.c_str(), mounted, kVolumeNameUnits) &&
         SameVolumeName(volumeName, mounted);
}

// Returns 0 once the entry's volume is mounted on `folder`, else the error.
DWORD MountVolume(HANDLE disk, const PARTITION_INFORMATION_EX& entry, const std::wstring& folder) {
  std::wstring volumeName;
  if (const DWORD error = WaitForVolume(disk, entry, volumeName); error != 0) return error;
  if (SetVolumeMountPointW(folder.c_str(), volumeName.c_str())) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_DIR_NOT_EMPTY && AlreadyMountedHere(folder, volumeName)) return 0;
  return error;
}

// The failure text is shorter than the start text it is written over; blanks
// cover the rest so that no "processing" stays visible behind it.
void FormatFailureText(wchar_t* text, const std::wstring& partitionName, size_t coverLength) {
  int length = FormatWide(text, kStatusTextSize, L"Mounting '%s' ... fault!      \n",
                          partitionName.c_str());
  if (length <= 0) return;
  size_t end = static_cast<size_t>(length) - 1;
  while (end + 1 < coverLength && end + 2 < kStatusTextSize) text[end++] = L' ';
  text[end] = L'\n';
  text[end + 1] = L'\0';
}
}  // namespace

namespace {
// The one status line of a partition mount: the start text, then the
// success or the failure text over it.
class MountStatus {
 public:
  MountStatus(const std::wstring& partitionName, const std::wstring& folder)
      : partitionName(partitionName),
        shownFolder(std::wstring(2, kPathSeparator) + PrintableName(FolderName(folder))) {
    wchar_t text[kStatusTextSize];
    int length = FormatWide(text, kStatusTextSize,
                            L"Mounting %s partition as : '%s' ... processing\n",
                            partitionName.c_str(), shownFolder.c_str());
    startLength = length > 0 ? static_cast<size_t>(length) : 0;
    status.Begin(text);
  }

  int Succeeded() {
    wchar_t text[kStatusTextSize];
    FormatWide(text, kStatusTextSize, L"Mounting %s partition as : '%s' ... ok         \n",
               partitionName.c_str(), shownFolder.c_str());
    status.Finish(text);
    return 0;
  }

  // Shows the failure of `error` and returns the code reported; an
  // interrupted run says so instead.
  int Failed(DWORD error) {
    wchar_t text[kStatusTextSize];
    FormatFailureText(text, partitionName, startLength);
    status.Finish(text);
    if (Interrupted()) return FailInterrupted();
    PrintWarningLine(L"Unable to add access path to the %s partition.\n", partitionName.c_str());
    return FailWithError(error);
  }

 private:
  std::wstring partitionName;
  std::wstring shownFolder;
  size_t startLength = 0;
  StatusLine status;
};

// Whether an access path is the work folder of a run: a "*.mnt" folder right
// in a temporary folder of ours.
bool IsWorkFolder(const std::wstring& path) {
  const std::wstring suffix = std::wstring(L".mnt") + kPathSeparator;
  if (path.size() <= suffix.size() ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const size_t nameStart = path.find_last_of(kPathSeparators, path.size() - 2);
  return nameStart != std::wstring::npos && IsPrivateTempFolder(path.substr(0, nameStart + 1));
}

// The access paths of a volume, in the order the system lists them.
// Returns: false when the system knows no volume of that name.
bool AccessPaths(const std::wstring& volumeName, std::vector<std::wstring>& paths) {
  std::vector<wchar_t> buffer(kVolumeNameUnits);
  DWORD needed = 0;
  while (!GetVolumePathNamesForVolumeNameW(volumeName.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()), &needed)) {
    if (GetLastError() != ERROR_MORE_DATA || needed <= buffer.size()) return false;
    buffer.assign(needed, L'\0');
  }
  for (size_t at = 0; at < buffer.size() && buffer[at] != L'\0';) {
    paths.emplace_back(&buffer[at]);
    at += paths.back().size() + 1;
  }
  return true;
}

// The access paths of the entry's volume: by the name its partition GUID
// suggests where the system knows that name, else by the name the system
// gives the volume on that disk and partition, so that no folder of ours
// still points into a disk the sweep detaches.
std::vector<std::wstring> PartitionAccessPaths(HANDLE disk, const PARTITION_INFORMATION_EX& entry) {
  std::vector<std::wstring> paths;
  std::wstring volumeName;
  if (!AccessPaths(MakeVolumeGuidPath(entry), paths) &&
      FindVolumeOfPartition(disk, entry.PartitionNumber, volumeName))
    AccessPaths(volumeName, paths);
  return paths;
}

// Removes the entry's volume's access path: the work folder of ours where the
// volume has one among several (a drive letter the user gave it stays),
// else the first. Failures are silent.
void RemoveAccessPath(HANDLE disk, const PARTITION_INFORMATION_EX& entry) {
  std::vector<std::wstring> paths = PartitionAccessPaths(disk, entry);
  if (paths.empty()) return;
  const std::wstring* chosen = &paths.front();
  for (const std::wstring& path : paths) {
    if (IsWorkFolder(path)) {
      chosen = &path;
      break;
    }
  }
  DeleteVolumeMountPointW(chosen->c_str());
}

// Removes the entry's volume's access paths that are work folders of ours:
// what a mount of another partition than the default one (--partition) left.
void RemoveWorkFolderPaths(HANDLE disk, const PARTITION_INFORMATION_EX& entry) {
  for (const std::wstring& path : PartitionAccessPaths(disk, entry))
    if (IsWorkFolder(path)) DeleteVolumeMountPointW(path.c_str());
}

bool IsChosenEntry(const PARTITION_INFORMATION_EX& entry, const MountChoice& choice,
                   uint32_t sectorSize) {
  return entry.PartitionStyle == PARTITION_STYLE_GPT &&
         SameDiskGuid(AsDiskGuid(entry.Gpt.PartitionId), choice.partition.id) &&
         static_cast<uint64_t>(entry.StartingOffset.QuadPart) ==
             choice.partition.firstSector * sectorSize;
}
}  // namespace

int MountChosenPartition(HANDLE diskHandle, const MountChoice& choice, const std::wstring& folder) {
  if (!choice.byName)
    PrintWarningLine(
        L"The image has no MainOS partition; mounting its largest basic "
        L"data partition, '%s' (%s), instead.\n",
        PrintableName(choice.partition.name).c_str(), ReadableSize(choice.length).c_str());
  MountStatus status(PrintableName(choice.partition.name), folder);
  DriveLayout layout;
  if (const int error = GetDriveLayout(diskHandle, layout); error != 0)
    return status.Failed(static_cast<DWORD>(error));
  bool found = false;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (!IsChosenEntry(entry, choice, choice.sectorSize)) continue;
    found = true;
    if (const DWORD error = MountVolume(diskHandle, entry, folder); error != 0)
      return status.Failed(error);
  }
  return found ? status.Succeeded() : status.Failed(ERROR_NOT_FOUND);
}

int UnmountMainPartition(HANDLE diskHandle) {
  DriveLayout layout;
  if (const int error = GetDriveLayout(diskHandle, layout); error != 0)
    return FailWithError(static_cast<uint32_t>(error));
  PartitionChoice choice = ChoosePartition(layout);
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    if (choice.Includes(i, layout.Entry(i)))
      RemoveAccessPath(diskHandle, layout.Entry(i));
    else
      RemoveWorkFolderPaths(diskHandle, layout.Entry(i));
  }
  return 0;
}
