#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/RunLock.h"

class FfuImage;
class MountSession;

// Mounts one image file: checks it, picks the loader by extension, shows the
// loading line and opens the mounted folder for the user.
class ImageMounter {
 public:
  // `loadOnly`: the image is only loaded, for a job that reads it; no lock is
  // taken and no disk is made. `wantedPartition`: the partition to mount;
  // empty: the default choice.
  explicit ImageMounter(bool loadOnly, std::wstring wantedPartition = std::wstring());
  ~ImageMounter();
  ImageMounter(const ImageMounter&) = delete;
  ImageMounter& operator=(const ImageMounter&) = delete;

  // Loads the image and opens its mounted folder.
  // Returns: 0 on success, or the character count of the failure line
  // (PrintErrorLine) when the image did not load or the folder did not open.
  int Mount(const std::wstring& imagePath);
  // Returns: 0 on success; the Win32 error code when the file is missing;
  // 1 when an FFU failed to load (its own lines printed); otherwise the
  // character count of the line that refuses the file type.
  int LoadImageFile(const std::wstring& imagePath);
  // Returns: the chunks of the mounted image that differ from its hash
  // table (0 when it was not checked), and all the chunks the table covers.
  uint32_t DamagedChunks() const;
  uint32_t CheckedChunks() const;
  // Returns: the image loaded by LoadImageFile; nullptr before.
  FfuImage* Image() const { return image.get(); }

 private:
  // Returns: 0 on success; the lock's result when no lock was taken;
  // otherwise the character count of the failure line.
  int LoadFfuImage(const std::wstring& imagePath);

  const bool loadOnly;
  const std::wstring wantedPartition;
  // Declared in reverse order of destruction: the image (and with it the
  // open file) goes first, then the session, then the lock.
  RunLock runLock;
  std::unique_ptr<MountSession> session;
  std::unique_ptr<FfuImage> image;
};
