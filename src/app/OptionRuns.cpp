#include "app/OptionRuns.h"

#include "app/CommandLine.h"
#include "app/ImageListing.h"
#include "app/ImageMounter.h"
#include "app/RunLock.h"
#include "common/Failure.h"
#include "ffu/DamageReport.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/ImageCheck.h"
#include "ffu/StoreReader.h"
#include "platform.h"
#include "vdisk/RawImageWriter.h"
#include "volumes/DetachSweep.h"

namespace {
int Fail(const wchar_t* line) {
  FailWithLine(line);
  return kJobFailed;
}

// The whole file against its hash table; the store's table names what a
// damaged chunk holds.
int Check(FfuImage& image) {
  StoreReader reader;
  if (reader.LoadStore(&image) != 0)
    return Fail(L"(Korvex) !ERROR! Failed to check the image file.\n");
  DamageReport report(image, reader, DiskSectorCount(*image.FirstStore()), {}, false);
  return CheckWholeImage(image, report);
}

int Extract(FfuImage& image, const CommandLine& line) {
  StoreReader reader;
  if (reader.LoadStore(&image) != 0) return 1;
  const StoreDescription& store = *image.FirstStore();
  DiskRange range{0, DiskSectorCount(store) * store.sectorSize};
  return ExtractRawImage(image, reader, range, line.outputPath, {});
}
}  // namespace

int RunDetach() {
  PrintWide(L"(Korvex) Detaching the image disks of earlier mounts.\n");
  // The sweep runs as the mount's does, never beside a mount.
  RunLock lock;
  if (lock.Acquire() != 0 || DetachImageDisks() != 0)
    return Fail(L"(Korvex) !ERROR! Failed to detach the image disks.\n");
  PrintWide(L"(Korvex) Successfully detached the image disks.\n");
  return 0;
}

int RunInspection(const CommandLine& line) {
  const wchar_t* path = line.imagePath.c_str();
  if (line.mode == RunMode::kList)
    PrintWide(L"(Korvex) Listing the image file : '%s'\n", path);
  else if (line.mode == RunMode::kCheck)
    PrintWide(L"(Korvex) Checking the image file : '%s'\n", path);
  else
    PrintWide(L"(Korvex) Extracting the image file : '%s' to '%s'\n", path,
              line.outputPath.c_str());
  ImageMounter loader;
  loader.loadOnly = true;
  if (loader.LoadImageFile(line.imagePath) != 0) {
    FailWithLine(L"(Korvex) !ERROR! Failed to load the Image : %s\n", path);
    return Fail(L"(Korvex) !ERROR! Failed to read the image file.\n");
  }
  FfuImage& image = *loader.image;
  if (line.mode == RunMode::kList) {
    if (ListImage(image) != 0) return Fail(L"(Korvex) !ERROR! Failed to list the image file.\n");
    return 0;
  }
  if (line.mode == RunMode::kCheck) return Check(image);
  if (Extract(image, line) != 0)
    return Fail(L"(Korvex) !ERROR! Failed to extract the image file.\n");
  PrintWide(L"(Korvex) Successfully extracted the image file to '%s'.\n", line.outputPath.c_str());
  return 0;
}
