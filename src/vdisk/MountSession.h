#pragma once

#include <string>
#include <vector>

#include "win32.h"

class FfuImage;
class StoreReader;

// One mount of one loaded image: VHD path, disk, payload, work folder and the
// mount point of the image's main partition. What it leaves on the system
// outlives it; the next run's sweep removes it.
class MountSession {
 public:
  MountSession() = default;
  ~MountSession();
  MountSession(const MountSession&) = delete;
  MountSession& operator=(const MountSession&) = delete;

  int MountImage(FfuImage* loadedImage);
  // The first work folder; empty when none was made.
  std::wstring FirstMountFolder() const;

  std::wstring vhdPath;
  FfuImage* image = nullptr;
  StoreReader* storeReader = nullptr;
  HANDLE diskHandle = nullptr;
  std::vector<std::wstring> mountFolders;
};
