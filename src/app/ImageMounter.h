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
  ImageMounter();
  ~ImageMounter();
  ImageMounter(const ImageMounter&) = delete;
  ImageMounter& operator=(const ImageMounter&) = delete;

  int Mount(const std::wstring& imagePath);
  int LoadImageFile(const std::wstring& imagePath);
  int LoadFfuImage(const std::wstring& imagePath);
  // Chunks of the mounted image that differ from its hash table, and all
  // its chunks; 0 when it was not checked.
  uint32_t DamagedChunks() const;
  uint32_t CheckedChunks() const;

  // Declared in reverse order of destruction: the image (and with it the
  // open file) goes first, then the session, then the lock.
  RunLock runLock;
  std::unique_ptr<MountSession> session;
  std::unique_ptr<FfuImage> image;
};
