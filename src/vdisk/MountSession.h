#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "ffu/MountChoice.h"
#include "ffu/StoreSet.h"
#include "vdisk/VhdCreator.h"
#include "win32.h"

class FfuImage;

// One mount of one loaded image: VHD path, disk, payload, work folder and the
// mount point of the image's main partition. What a successful mount leaves
// on the system outlives it; the next run's sweep removes it. A mount that
// fails once its VHD exists removes what it made before it returns.
class MountSession {
 public:
  // `wantedPartition`: the partition to mount; empty: "MainOS", else the
  // largest basic data partition.
  explicit MountSession(const std::wstring& wantedPartition);
  ~MountSession();
  MountSession(const MountSession&) = delete;
  MountSession& operator=(const MountSession&) = delete;

  // Checks the image, then makes, fills and mounts its disk.
  // Returns: 0 on success, also at once (after a warning) for a session that
  // has an image already; 1 when the image fails its checks or the disk is
  // not filled, after their own lines; otherwise the result of the failure
  // line printed (its character count, or the Win32 error code it reports).
  int MountImage(FfuImage* loadedImage);
  // Returns: the first work folder; empty when none was made.
  std::wstring FirstMountFolder() const;

 private:
  int CheckImage();
  int MakeDisk();
  int MountMainVolume();
  // Takes away, in reverse order, what this run made: its mount point, its
  // disk with the disk's volumes, its VHD file and a work folder it made.
  void RemoveWhatWasMade();

  std::wstring wantedPartition;
  std::wstring vhdPath;
  FfuImage* image = nullptr;  // not owned
  StoreSet stores;
  StoreReader* storeReader = nullptr;  // the store whose disk is made, one of `stores`
  MountChoice choice;  // known before anything is made
  UniqueHandle diskHandle;
  std::vector<std::wstring> mountFolders;
  // What this run has made so far, for RemoveWhatWasMade.
  VhdStage vhdStage = VhdStage::kNone;
  bool folderMade = false;
  // Whether the mount was tried, and whether the folder was a mount point
  // before: a mount found there only afterwards is this run's, whatever
  // volume it carries.
  bool mountTried = false;
  bool folderWasMountPoint = false;
};
