#include "volumes/MountCheck.h"

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "common/UniqueHandle.h"
#include "platform.h"
#include "volumes/OpenDevice.h"
#include "volumes/VolumeNames.h"

namespace {
constexpr DWORD kVolumeNameUnits = 260;

constexpr DWORD kFileSystemNameUnits = MAX_PATH + 1;

// A volume whose file system the system cannot read (RAW) is linked to the
// folder all the same; only its file system's name tells that it can be
// browsed.
int CheckFileSystem(const std::wstring& folder) {
  wchar_t fileSystem[kFileSystemNameUnits] = {};
  if (GetVolumeInformationW(folder.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                            kFileSystemNameUnits) &&
      fileSystem[0] != L'\0' && std::wstring(fileSystem) != L"RAW")
    return 0;
  PrintErrorLine(
      L"The volume mounted on '%s' holds no file system that can be "
      L"read.\n",
      PrintableName(folder).c_str());
  return FailWithError(0);
}
}  // namespace

FolderVolume VolumeAtFolder(HANDLE diskHandle, const std::wstring& folder) {
  wchar_t volumeName[kVolumeNameUnits] = {};
  if (!GetVolumeNameForVolumeMountPointW(folder.c_str(), volumeName, kVolumeNameUnits))
    return FolderVolume::kNone;
  UniqueHandle volume(OpenDeviceToQuery(VolumeDevicePath(volumeName), 0));
  STORAGE_DEVICE_NUMBER onVolume{};
  STORAGE_DEVICE_NUMBER onDisk{};
  if (!volume.Valid() || !QueryDeviceNumber(volume.Get(), onVolume) ||
      !QueryDeviceNumber(diskHandle, onDisk))
    return FolderVolume::kUnknown;
  bool same = onVolume.DeviceType == onDisk.DeviceType &&
              onVolume.DeviceNumber == onDisk.DeviceNumber;
  return same ? FolderVolume::kOnDisk : FolderVolume::kOnAnotherDisk;
}

int CheckMountedVolume(HANDLE diskHandle, const std::wstring& folder) {
  switch (VolumeAtFolder(diskHandle, folder)) {
    case FolderVolume::kOnDisk:
      return CheckFileSystem(folder);
    case FolderVolume::kNone:
      return PrintErrorLine(L"No volume is mounted on '%s'.\n", PrintableName(folder).c_str());
    case FolderVolume::kOnAnotherDisk:
      return PrintErrorLine(
          L"The volume mounted on '%s' lies on another disk of the same image, "
          L"one that an earlier run could not detach.\n",
          PrintableName(folder).c_str());
    case FolderVolume::kUnknown:
      break;
  }
  PrintErrorLine(L"Unable to tell which disk the volume mounted on '%s' lies on.\n",
                 PrintableName(folder).c_str());
  return FailWithError(0);
}
