// Times the check of a whole image file in process, as the command line's
// check runs it: load the image, read the store's table, then read and hash
// the whole file on the hash pool. Prints the check's own lines, then the
// seconds of the whole run and of the check alone on standard error.
// Figures only: nothing here passes or fails.
#include <chrono>
#include <cstdio>
#include <string>

#include "ffu/DamageReport.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/ImageCheck.h"
#include "ffu/StoreReader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: image_check_speed IMAGE\n");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  std::string narrow = argv[1];
  FfuImage image;
  StoreReader reader;
  if (image.Load(std::wstring(narrow.begin(), narrow.end())) != 0 || reader.LoadStore(&image) != 0)
    return 73;
  DamageReport report(image, reader, DiskSectorCount(*image.FirstStore()), {}, false);
  const auto loaded = std::chrono::steady_clock::now();
  int result = CheckWholeImage(image, report);
  const auto end = std::chrono::steady_clock::now();
  std::fprintf(stderr, "%.3f %.3f %d\n", std::chrono::duration<double>(end - start).count(),
               std::chrono::duration<double>(end - loaded).count(), result);
  return result;
}
