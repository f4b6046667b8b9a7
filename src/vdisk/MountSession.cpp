#include "vdisk/MountSession.h"

#include "common/FixedValues.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/PayloadCopy.h"
#include "vdisk/TempPaths.h"
#include "vdisk/VhdCreator.h"
#include "volumes/PartitionMounts.h"

MountSession::~MountSession() {
  delete storeReader;
  if (diskHandle != nullptr && diskHandle != INVALID_HANDLE_VALUE) CloseHandle(diskHandle);
  mountFolders.clear();
  vhdPath.clear();
}

std::wstring MountSession::FirstMountFolder() const {
  return mountFolders.empty() ? std::wstring() : mountFolders.front();
}

int MountSession::MountImage(FfuImage* loadedImage) {
  if (image != nullptr) {
    PrintWide(L"(Korvex) !WARNING! Image has already been mounted.\n");
    return 0;
  }
  if (MakeVhdPath(*this) != 0) return PrintWide(L"(Korvex) !ERROR! Unable to create VHD file.\n");
  image = loadedImage;
  if (CreateImageVhd(*this, image) != 0)
    return PrintWide(L"(Korvex) !ERROR! Unable to create VHD file.\n");
  int result = MakeMountFolder(*this, image->FirstStore()->imagePath);
  if (result != 0) return result;
  if (FillDisk(*this) != 0) return 1;
  if (MountPartition(diskHandle, kMainPartitionName, mountFolders.back()) != 0)
    return PrintWide(L"(Korvex) !ERROR! Unable to mount the existing full flash update image.\n");
  return 0;
}
