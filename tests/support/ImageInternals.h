#pragma once

#include <cstdint>
#include <vector>

#include "common/UniqueHandle.h"
#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"

// The state an FfuImage keeps private, for tests that lay an image out by
// hand or look at what a load kept.
struct ImageInternals {
  static UniqueHandle& File(FfuImage& image) { return image.file; }
  static std::vector<StoreDescription>& Stores(FfuImage& image) { return image.stores; }
  static ImageHeader& Header(FfuImage& image) { return image.imageHeader; }
  static uint64_t& FileSize(FfuImage& image) { return image.fileSize; }
  static const std::vector<uint8_t>& Catalog(const FfuImage& image) { return image.catalog; }
  static const std::vector<uint8_t>& ManifestBytes(const FfuImage& image) {
    return image.manifestBytes;
  }
  static Manifest* ParsedManifest(FfuImage& image) { return image.manifest.get(); }
  static FfuImage::StoreFault StoreFault(const FfuImage& image) { return image.storeFault; }
};
