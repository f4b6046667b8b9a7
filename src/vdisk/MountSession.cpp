#include "vdisk/MountSession.h"

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/Interruption.h"
#include "common/ProgramLines.h"
#include "common/VirtualStorage.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/PayloadCopy.h"
#include "vdisk/TempPaths.h"
#include "vdisk/VhdCreator.h"
#include "volumes/MountCheck.h"
#include "volumes/PartitionMounts.h"

namespace {
// The image's sector size picks the file format; without an image the
// creation step reports the missing image.
VirtualDiskFormat DiskFormatOf(const FfuImage* image) {
  if (image == nullptr || image->ChosenStore() == nullptr) return VirtualDiskFormat::kVhd;
  const StoreDescription& store = *image->ChosenStore();
  return FormatForSectorSize(store.sectorSize, DiskSectorCount(store) * store.sectorSize);
}
}  // namespace

MountSession::MountSession(const std::wstring& wantedPartition)
    : wantedPartition(wantedPartition) {}
MountSession::~MountSession() = default;

std::wstring MountSession::FirstMountFolder() const {
  return mountFolders.empty() ? std::wstring() : mountFolders.front();
}

int MountSession::MountImage(FfuImage* loadedImage) {
  if (image != nullptr) {
    PrintWarningLine(L"Image has already been mounted.\n");
    return 0;
  }
  image = loadedImage;
  // Everything the file can tell is checked before anything is made, so
  // that a bad image fails with its line and leaves the system as it was.
  if (CheckImage() != 0 || CheckDiskLimits(*image->ChosenStore()) != 0) return 1;
  int result = StopIfInterrupted();
  if (result != 0) return result;
  std::wstring folder;
  result = CheckMountFolderPath(folder, image->ChosenStore()->imagePath);
  if (result != 0) return result;
  if (MakeVhdPath(vhdPath, DiskFormatOf(image)) != 0)
    return PrintErrorLine(L"Unable to create VHD file.\n");
  result = MakeDisk();
  if (result == 0) result = MountMainVolume();
  // The last safe point: an interruption up to here undoes the mount too.
  if (result == 0) result = StopIfInterrupted();
  if (result != 0) {
    if (Interrupted()) FailInterrupted();
    RemoveWhatWasMade();
  }
  return result;
}

// Every store is read and its table checked, and the partition to mount is
// chosen from the partition tables in the file; only the chosen store's disk
// is made, so the file goes on to that store's payload.
int MountSession::CheckImage() {
  if (stores.Load(image) != 0) return 1;
  if (stores.Count() == 1) {
    if (CheckPayload(stores.Reader(0), DiskSectorCount(stores.Reader(0).Store())) != 0) return 1;
  } else {
    for (size_t i = 0; i < stores.Count(); ++i)
      if (CheckTable(stores.Reader(i), DiskSectorCount(stores.Reader(i).Store())) != 0) return 1;
  }
  if (ChooseMountPartition(*image, stores, wantedPartition, choice) != 0) return 1;
  image->ChooseStore(choice.store);
  storeReader = &stores.Reader(choice.store);
  return stores.SeekPayload(choice.store);
}

// Creates and attaches the VHD, makes the work folder and fills the disk.
int MountSession::MakeDisk() {
  if (CreateImageVhd(image, vhdPath, diskHandle, vhdStage) != 0)
    return PrintErrorLine(L"Unable to create VHD file.\n");
  int stop = StopIfInterrupted();
  if (stop != 0) return stop;
  bool folderExisted = false;
  std::wstring folder;
  int result = MakeMountFolder(folder, image->ChosenStore()->imagePath, &folderExisted);
  if (result != 0) return result;
  mountFolders.push_back(folder);
  folderMade = !folderExisted;
  if (FillDisk(*image, *storeReader, diskHandle.Get(), vhdPath.c_str()) != 0) return 1;
  return 0;
}

int MountSession::MountMainVolume() {
  int stop = StopIfInterrupted();
  if (stop != 0) return stop;
  const std::wstring& folder = mountFolders.back();
  folderWasMountPoint = VolumeAtFolder(diskHandle.Get(), folder) != FolderVolume::kNone;
  mountTried = true;
  if (MountChosenPartition(diskHandle.Get(), choice, folder) != 0 ||
      CheckMountedVolume(diskHandle.Get(), folder) != 0)
    return PrintErrorLine(L"Unable to mount the existing full flash update image.\n");
  return 0;
}
