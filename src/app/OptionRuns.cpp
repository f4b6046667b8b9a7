#include "app/OptionRuns.h"

#include "app/CommandLine.h"
#include "app/ImageListing.h"
#include "app/ImageMounter.h"
#include "app/ImageStores.h"
#include "app/RunLock.h"
#include "common/Interruption.h"
#include "common/ProgramLines.h"
#include "ffu/CatalogCheck.h"
#include "ffu/DamageReport.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/ImageCheck.h"
#include "ffu/MountChoice.h"
#include "ffu/StoreReader.h"
#include "files/FileCommands.h"
#include "platform.h"
#include "vdisk/RawImageWriter.h"
#include "volumes/DetachSweep.h"

namespace {
int Fail(const wchar_t* line) {
  PrintErrorLine(line);
  return kJobFailed;
}

// The whole file against its hash table; the first store's table and
// partitions name what a damaged chunk holds. A partition table that cannot
// be read (its line says why) leaves the partitions unnamed.
int Check(FfuImage& image) {
  ImageStores loaded;
  if (loaded.Load(image, false) != 0) return Fail(L"Failed to check the image file.\n");
  bool known = ReadImagePartitions(image, loaded.stores, loaded.tables, &loaded.usable) == 0;
  const StoreReader& reader = loaded.stores.Reader(0);
  DamageReport report(image, reader, DiskSectorCount(reader.Store()), loaded.Spans(0), known);
  return CheckWholeImage(image, report);
}

// The disk of the store a mount would make (or of the store that holds the
// named partition), whole or that one partition.
int Extract(FfuImage& image, const CommandLine& line) {
  ImageStores loaded;
  if (loaded.Load(image, true) != 0) return 1;
  size_t store = 0;
  const ImagePartition* partition = nullptr;
  if (!line.partitionName.empty()) {
    if (loaded.FindNamed(line.partitionName, store, partition) != 0) return 1;
  } else if (loaded.stores.Count() > 1) {
    MountChoice choice;
    if (ChooseFromTables(loaded.tables, loaded.SectorSizes(), L"", choice) != 0) return 1;
    store = choice.store;
  }
  StoreReader& reader = loaded.stores.Reader(store);
  uint32_t sectorSize = reader.Store().sectorSize;
  uint64_t diskBytes = DiskSectorCount(reader.Store()) * sectorSize;
  DiskRange range{0, diskBytes};
  if (partition != nullptr) {
    range = {partition->firstSector * sectorSize, partition->Length(sectorSize)};
    if (range.length == 0 || range.start > diskBytes || range.length > diskBytes - range.start)
      return PrintErrorLine(L"The partition %s does not lie on the disk.\n",
                            PrintableName(partition->name).c_str());
  }
  // Nothing is written from an image that is not the one its catalog vouches for.
  if (CheckImageCatalog(image) == CatalogCheck::kFailed)
    return PrintErrorLine(L"No raw image is written from an image whose catalog does not vouch "
                          L"for its hash table.\n");
  image.ChooseStore(store);
  if (loaded.stores.SeekPayload(store) != 0) return 1;
  // From here on Ctrl-C ends the extraction at its next block, and the
  // unfinished file goes with it.
  if (WatchForInterruption() != 0) return 1;
  return ExtractDiskImage(image, reader, range, line.outputPath, loaded.Spans(store));
}

FileRequest RequestOf(const CommandLine& line) {
  FileRequest request;
  request.kind = line.mode == RunMode::kLs     ? FileRequest::kList
                 : line.mode == RunMode::kCopy ? FileRequest::kCopy
                                               : FileRequest::kView;
  request.path = line.filePath;
  request.target = line.folder;
  request.foreground = line.foreground;
  return request;
}

// The first line of --list, --check and --extract.
void PrintStartLine(const CommandLine& line) {
  const std::wstring shownPath = PrintableName(line.imagePath);
  const wchar_t* path = shownPath.c_str();
  if (line.mode == RunMode::kList)
    PrintProgramLine(L"Listing the image file : '%s'\n", path);
  else if (line.mode == RunMode::kCheck)
    PrintProgramLine(L"Checking the image file : '%s'\n", path);
  else
    PrintProgramLine(L"Extracting the image file : '%s' to '%s'\n", path,
                     PrintableName(line.outputPath).c_str());
}

// --ls, --copy and --view: the image's files, read in process.
int RunFiles(const CommandLine& line, FfuImage& image) {
  ImageStores loaded;
  if (loaded.Load(image, true) != 0) return Fail(L"Failed to read the image's files.\n");
  // A copy that is interrupted removes what it wrote; the view ends on its own signals.
  if (line.mode == RunMode::kCopy && WatchForInterruption() != 0) return kJobFailed;
  return RunFileRequest(image, loaded.stores, loaded.tables, RequestOf(line));
}
}  // namespace

int RunDetach() {
  PrintProgramLine(L"Detaching the image disks of earlier mounts.\n");
  // The sweep runs as the mount's does, never beside a mount.
  RunLock lock;
  if (lock.Acquire() != 0 || DetachImageDisks(SweepFor::kDetach) != 0)
    return Fail(L"Failed to detach the image disks.\n");
  // A disk whose detach failed stays, with its warning above; the sweep
  // itself went over every drive.
  PrintProgramLine(L"Swept the disks of earlier mounts.\n");
  return 0;
}

int RunInspection(const CommandLine& line) {
  const std::wstring shownPath = PrintableName(line.imagePath);
  const wchar_t* path = shownPath.c_str();
  bool files = line.mode == RunMode::kLs || line.mode == RunMode::kCopy ||
               line.mode == RunMode::kView;
  if (files && OfferFileCommands() != 0) return 1;
  if (!files) PrintStartLine(line);
  ImageMounter loader(true);
  if (loader.LoadImageFile(line.imagePath) != 0) {
    PrintErrorLine(L"Failed to load the Image : %s\n", path);
    return Fail(L"Failed to read the image file.\n");
  }
  FfuImage& image = *loader.Image();
  if (files) return RunFiles(line, image);
  if (line.mode == RunMode::kList) {
    if (ListImage(image) != 0) return Fail(L"Failed to list the image file.\n");
    return 0;
  }
  if (line.mode == RunMode::kCheck) return Check(image);
  if (Extract(image, line) != 0) return Fail(L"Failed to extract the image file.\n");
  PrintProgramLine(L"Successfully extracted the image file to '%s'.\n",
                   PrintableName(line.outputPath).c_str());
  return 0;
}
