#pragma once

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

  FfuImage* image = nullptr;
  MountSession* session = nullptr;
};
