// Helpers of the tests that build FFU files from the layout records and read
// them back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ffu/FfuLayout.h"
#include "win32.h"

// Appends one record of the file layout, as it lies in memory.
template <typename Record>
void Put(std::vector<uint8_t>& bytes, const Record& record) {
  const uint8_t* at = reinterpret_cast<const uint8_t*>(&record);
  bytes.insert(bytes.end(), at, at + sizeof(record));
}

// Where the file pointer of `file` stands.
inline uint64_t FilePosition(HANDLE file) {
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  EXPECT_TRUE(SetFilePointerEx(file, zero, &now, FILE_CURRENT));
  return static_cast<uint64_t>(now.QuadPart);
}

inline constexpr char kStoreManifest[] = "[Store]\r\nSectorSize = 512\r\nMinSectorCount = 4096\r\n";

// The regions in front of the store, as the test wants them written.
struct ContainerShape {
  uint32_t securityChunkKb = 1;
  uint32_t catalogSize = 0;
  uint32_t hashTableSize = 0;
  uint32_t imageChunkKb = 1;
  std::string manifest = kStoreManifest;
  uint32_t manifestLength = 0;  // 0: the manifest's own length
  const char* securitySignature = kSecuritySignature;
  const char* imageSignature = kImageSignature;
  uint32_t storeBytes = sizeof(StoreHeader);  // bytes written after the image padding
};

// Regions declared longer than this are not written: those files end early.
inline constexpr uint32_t kLongestWrittenRegion = 1 << 20;

inline uint32_t ChunkBytes(uint32_t chunkKb) { return chunkKb * 1024u; }

inline void PadTo(std::vector<uint8_t>& bytes, uint32_t unit) {
  if (unit != 0 && bytes.size() % unit != 0) bytes.resize(bytes.size() + unit - bytes.size() % unit, 0);
}

// The security and image regions of an FFU file as `shape` says, then its
// store bytes.
inline std::vector<uint8_t> BuildContainer(const ContainerShape& shape) {
  std::vector<uint8_t> bytes;
  SecurityHeader security{};
  security.headerSize = sizeof(SecurityHeader);
  std::memcpy(security.signature, shape.securitySignature, kSignatureLength);
  security.chunkSizeKb = shape.securityChunkKb;
  security.catalogSize = shape.catalogSize;
  security.hashTableSize = shape.hashTableSize;
  Put(bytes, security);
  if (shape.catalogSize <= kLongestWrittenRegion) bytes.insert(bytes.end(), shape.catalogSize, 0x11);
  if (shape.hashTableSize <= kLongestWrittenRegion) bytes.insert(bytes.end(), shape.hashTableSize, 0x22);
  PadTo(bytes, ChunkBytes(shape.securityChunkKb));
  ImageHeader image{};
  image.headerSize = sizeof(ImageHeader);
  std::memcpy(image.signature, shape.imageSignature, kSignatureLength);
  image.manifestLength = shape.manifestLength != 0
                             ? shape.manifestLength
                             : static_cast<uint32_t>(shape.manifest.size());
  image.chunkSizeKb = shape.imageChunkKb;
  Put(bytes, image);
  std::string manifest = shape.manifest;
  if (image.manifestLength <= kLongestWrittenRegion) manifest.resize(image.manifestLength, '\0');
  bytes.insert(bytes.end(), manifest.begin(), manifest.end());
  PadTo(bytes, ChunkBytes(shape.imageChunkKb));
  bytes.insert(bytes.end(), shape.storeBytes, 0x33);
  return bytes;
}
