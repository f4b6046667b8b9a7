// Feeds arbitrary bytes to the FFU reader as an image file: the container,
// the manifest parser and, when those load, the store table; then the rest
// of the file goes to the hash-table check as the copy would pass it on, and
// every damaged chunk is described.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <vector>

#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "ffu/DamageReport.h"
#include "ffu/DiskGeometry.h"

namespace {
std::string imagePath;
std::wstring wideImagePath;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/ffu-reader-fuzz-XXXXXX";
  int descriptor = mkstemp(pattern);
  if (descriptor < 0) std::abort();
  close(descriptor);
  imagePath = pattern;
  wideImagePath.assign(imagePath.begin(), imagePath.end());
  // The reader's messages would only slow the run down.
  int quiet = open("/dev/null", O_WRONLY);
  if (quiet >= 0) {
    dup2(quiet, STDOUT_FILENO);
    close(quiet);
  }
  std::atexit([] { unlink(imagePath.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(imagePath.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  FfuImage image;
  if (image.Load(wideImagePath) != 0) return 0;
  StoreReader reader;
  if (reader.LoadStore(&image) != 0) return 0;
  // The copy succeeds only when the file holds every payload block.
  const unsigned __int128 blocks = reader.PayloadBlocks();
  if (reader.PayloadOffset() + blocks * reader.BlockSize() > image.FileSize()) return 0;
  std::vector<uint8_t> piece(4096);
  uint64_t position = reader.PayloadOffset();
  DWORD got = 0;
  while (ReadFile(image.File(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) &&
         got > 0) {
    image.ChunkCheck().Feed(position, piece.data(), got);
    position += got;
  }
  image.ChunkCheck().Finish();
  DamageReport report(image, reader, DiskSectorCount(*image.FirstStore()), {});
  for (uint32_t chunk : image.ChunkCheck().FirstDamaged()) report.Describe(chunk);
  return 0;
}
