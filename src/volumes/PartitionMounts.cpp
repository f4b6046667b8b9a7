#include "volumes/PartitionMounts.h"

#include <cwchar>

#include "common/FormatWide.h"
#include "common/PathFunctions.h"
#include "common/ReportWin32Error.h"
#include "common/StatusLine.h"
#include "platform.h"
#include "volumes/DriveLayout.h"
#include "volumes/OpenDevice.h"

namespace {
constexpr DWORD kVolumeNameUnits = 260;
constexpr DWORD kVolumePollMs = 250;
// A volume that has not arrived after this long will not arrive.
constexpr DWORD kVolumeWaitMs = 30000;

// Waits until the volume's device can be opened; false (last error 1460)
// when it has not arrived within the bound.
bool WaitForVolume(const std::wstring& devicePath) {
  for (DWORD waited = 0;; waited += kVolumePollMs) {
    HANDLE volume = OpenDevice(devicePath);
    if (volume != INVALID_HANDLE_VALUE && volume != nullptr) {
      CloseHandle(volume);
      return true;
    }
    if (waited >= kVolumeWaitMs) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    Sleep(kVolumePollMs);
  }
}

// "Directory not empty" is only success when the folder already is a mount
// point of this very volume, as after a repeated mount.
bool AlreadyMountedHere(const std::wstring& folder, const std::wstring& volumeName) {
  wchar_t mounted[kVolumeNameUnits] = {};
  bool same = GetVolumeNameForVolumeMountPointW(folder.c_str(), mounted, kVolumeNameUnits) &&
              volumeName == mounted;
  SetLastError(ERROR_DIR_NOT_EMPTY);
  return same;
}

bool MountVolume(const PARTITION_INFORMATION_EX& entry, const std::wstring& folder) {
  std::wstring volumeName = MakeVolumeGuidPath(entry);
  if (!WaitForVolume(MakeVolumeDevicePath(entry))) return false;
  if (SetVolumeMountPointW(folder.c_str(), volumeName.c_str())) return true;
  return GetLastError() == ERROR_DIR_NOT_EMPTY && AlreadyMountedHere(folder, volumeName);
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

int MountPartition(HANDLE diskHandle, const std::wstring& partitionName,
                   const std::wstring& folder) {
  std::wstring shownFolder = std::wstring(2, kPathSeparator) + FolderName(folder);
  wchar_t text[kStatusTextSize];
  int startLength = FormatWide(text, kStatusTextSize,
                               L"Mounting %s partition as : '%s' ... processing\n",
                               partitionName.c_str(), shownFolder.c_str());
  StatusLine status;
  status.Begin(text);

  DriveLayout layout;
  bool mounted = GetDriveLayout(diskHandle, layout) == 0;
  for (uint32_t i = 0; mounted && i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (MatchPartitionName(entry, partitionName)) mounted = MountVolume(entry, folder);
  }
  if (mounted) {
    FormatWide(text, kStatusTextSize, L"Mounting %s partition as : '%s' ... ok         \n",
               partitionName.c_str(), shownFolder.c_str());
    status.Rewrite(text);
    return 0;
  }
  DWORD error = GetLastError();
  FormatFailureText(text, partitionName, startLength > 0 ? static_cast<size_t>(startLength) : 0);
  status.Rewrite(text);
  PrintWide(L"(Korvex) !WARNING! Unable to add access path to the %s partition.\n",
            partitionName.c_str());
  return static_cast<int>(ReportWin32Error(error));
}

int UnmountPartition(HANDLE diskHandle, const std::wstring& partitionName) {
  DriveLayout layout;
  if (GetDriveLayout(diskHandle, layout) != 0) return static_cast<int>(ReportWin32Error(0));
  for (uint32_t i = 0; i < layout.EntryCount(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (!MatchPartitionName(entry, partitionName)) continue;
    std::wstring volumeName = MakeVolumeGuidPath(entry);
    wchar_t paths[kVolumeNameUnits] = {};
    DWORD length = 0;
    if (GetVolumePathNamesForVolumeNameW(volumeName.c_str(), paths, kVolumeNameUnits, &length) &&
        paths[0] != L'\0')
      DeleteVolumeMountPointW(paths);
  }
  return 0;
}
