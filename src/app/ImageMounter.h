#pragma once

#include <cstdint>
#include <string>

class FfuImage;
class MountSession;

// Mounts one image file: checks it, picks the loader by extension, shows the
// loading line and opens the mounted folder for the user.
class ImageMounter {
 public:
  ImageMounter() = default;
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

  FfuImage* image = nullptr;
  MountSession* session = nullptr;
};
