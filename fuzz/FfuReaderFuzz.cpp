// Feeds arbitrary bytes to the FFU reader as an image file: the container,
// the manifest parser and, when those load, the store table.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"

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
  if (image.Load(wideImagePath) == 0) {
    StoreReader reader;
    reader.LoadStore(&image);
  }
  return 0;
}
