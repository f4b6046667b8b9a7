// What a failed mount does before it reports the failure: it takes away
// what it made, so that a failed run leaves the system as it found it.
#include "common/ProgramLines.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/MountSession.h"
#include "volumes/DetachSweep.h"
#include "volumes/MountCheck.h"

void MountSession::RemoveWhatWasMade() {
  if (vhdStage == VhdStage::kNone) return;
  const std::wstring folder = mountFolders.empty() ? std::wstring() : mountFolders.back();
  // A volume of this run's disk is unmounted, and so is any mount this run
  // made (one of another disk whose volume has the same identity). A mount
  // the folder carried before this run is not this run's to take.
  if (!folder.empty() && diskHandle.Valid()) {
    const FolderVolume volume = VolumeAtFolder(diskHandle.Get(), folder);
    const bool madeHere = mountTried && !folderWasMountPoint && volume != FolderVolume::kNone;
    if (volume == FolderVolume::kOnDisk || madeHere) DeleteVolumeMountPointW(folder.c_str());
  }
  diskHandle.Reset();
  if (vhdStage == VhdStage::kAttached) {
    if (DetachVhdFile(vhdPath) != 0) {
      // The next run's sweep takes the disk: its file is one of ours.
      PrintWarningLine(L"Unable to detach vhd file : '%s'\n", PrintableName(vhdPath).c_str());
      return;
    }
    vhdStage = VhdStage::kCreated;
  }
  if (!DeleteFileW(vhdPath.c_str())) {
    PrintErrorLine(L"Unable to delete a temporary file : '%s'.\n",
                   PrintableName(vhdPath).c_str());
    return;
  }
  vhdStage = VhdStage::kNone;
  if (folderMade && RemoveDirectoryW(folder.c_str())) folderMade = false;
}
