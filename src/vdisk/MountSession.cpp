#include "vdisk/MountSession.h"

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/VirtualStorage.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "ffu/DiskGeometry.h"
#include "vdisk/PayloadCopy.h"
#include "vdisk/TempPaths.h"
#include "vdisk/VhdCreator.h"
#include "volumes/MountCheck.h"
#include "volumes/PartitionMounts.h"

namespace {
// The image's sector size picks the file format; without an image the
// creation step reports the missing image.
VirtualDiskFormat DiskFormatOf(const FfuImage* image) {
  if (image == nullptr || image->FirstStore() == nullptr) return VirtualDiskFormat::Vhd;
  return FormatForSectorSize(image->FirstStore()->sectorSize);
}
}  // namespace

MountSession::MountSession() = default;
MountSession::~MountSession() = default;

std::wstring MountSession::FirstMountFolder() const {
  return mountFolders.empty() ? std::wstring() : mountFolders.front();
}

int MountSession::MountImage(FfuImage* loadedImage) {
  if (image != nullptr) {
    PrintWide(L"(Korvex) !WARNING! Image has already been mounted.\n");
    return 0;
  }
  image = loadedImage;
  // Everything the file can tell is checked before anything is made, so
  // that a bad image fails with its line and leaves the system as it was.
  if (CheckImage() != 0) return 1;
  if (MakeVhdPath(vhdPath, DiskFormatOf(image)) != 0)
    return FailWithLine(L"(Korvex) !ERROR! Unable to create VHD file.\n");
  int result = MakeDisk();
  if (result == 0) result = MountMainVolume();
  if (result != 0) RemoveWhatWasMade();
  return result;
}

int MountSession::CheckImage() {
  storeReader = std::make_unique<StoreReader>();
  if (storeReader->LoadStore(image) != 0) return 1;
  return CheckPayload(*storeReader, DiskSectorCount(*image->FirstStore()));
}

// Creates and attaches the VHD, makes the work folder and fills the disk.
int MountSession::MakeDisk() {
  if (CreateImageVhd(image, vhdPath, diskHandle, vhdStage) != 0)
    return FailWithLine(L"(Korvex) !ERROR! Unable to create VHD file.\n");
  bool folderExisted = false;
  std::wstring folder;
  int result = MakeMountFolder(folder, image->FirstStore()->imagePath, &folderExisted);
  if (result != 0) return result;
  mountFolders.push_back(folder);
  folderMade = !folderExisted;
  if (FillDisk(*image, *storeReader, diskHandle.Get()) != 0) return 1;
  return 0;
}

int MountSession::MountMainVolume() {
  const std::wstring& folder = mountFolders.back();
  if (MountMainPartition(diskHandle.Get(), folder) != 0 ||
      CheckMountedVolume(diskHandle.Get(), folder) != 0)
    return FailWithLine(
        L"(Korvex) !ERROR! Unable to mount the existing full flash update image.\n");
  return 0;
}
