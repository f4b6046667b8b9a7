#pragma once

#include <cstdint>
#include <vector>

#include "common/UniqueHandle.h"
#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/StoreReader.h"

// The state an FfuImage and a StoreReader keep private, for tests that lay
// an image out by hand or look at what a load kept.
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

  static void Bind(StoreReader& reader, FfuImage& image) { reader.image = &image; }
  static StoreHeader& Header(StoreReader& reader) { return reader.header; }
  static std::vector<BlockDataEntry>& Entries(StoreReader& reader) { return reader.entries; }
  static uint64_t& ValidationOffset(StoreReader& reader) { return reader.validationOffset; }
  static uint64_t& EntriesOffset(StoreReader& reader) { return reader.entriesOffset; }
  static uint64_t& EntriesEnd(StoreReader& reader) { return reader.entriesEnd; }
  static uint64_t& PayloadOffset(StoreReader& reader) {
    return reader.image->stores[reader.storeNumber].payloadOffset;
  }
};
