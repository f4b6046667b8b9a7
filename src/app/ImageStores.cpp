#include "app/ImageStores.h"

#include "common/ProgramLines.h"
#include "ffu/DiskGeometry.h"
#include "ffu/MountChoice.h"
#include "ffu/StoreReader.h"

int ImageStores::Load(FfuImage& image, bool withTables) {
  if (stores.Load(&image) != 0) return 1;
  if (!withTables) return 0;
  // A disk of other sectors is refused by the mount as well; its tables
  // would be read in units no disk has.
  for (size_t i = 0; i < stores.Count(); ++i) {
    const uint32_t sectorSize = stores.Reader(i).Store().sectorSize;
    if (!IsDiskSectorSize(sectorSize))
      return PrintErrorLine(L"The image's sector size of %u bytes is not one a disk has: "
                            L"512 or 4096 bytes.\n", sectorSize);
  }
  return ReadImagePartitions(image, stores, tables);
}

std::vector<uint32_t> ImageStores::SectorSizes() const {
  std::vector<uint32_t> sizes;
  for (size_t i = 0; i < stores.Count(); ++i) sizes.push_back(stores.Reader(i).Store().sectorSize);
  return sizes;
}

std::vector<PartitionSpan> ImageStores::Spans(size_t index) const {
  std::vector<PartitionSpan> spans;
  if (index >= tables.size()) return spans;
  uint32_t sectorSize = stores.Reader(index).Store().sectorSize;
  for (const ImagePartition& partition : tables[index]) {
    uint64_t length = partition.Length(sectorSize);
    if (length != 0) spans.push_back({partition.firstSector * sectorSize, length, partition.name});
  }
  return spans;
}

int ImageStores::FindNamed(const std::wstring& name, size_t& store,
                           const ImagePartition*& partition) const {
  uint32_t count = 0;
  std::wstring names;
  for (size_t i = 0; i < tables.size(); ++i) {
    for (const ImagePartition& entry : tables[i]) {
      names += (names.empty() ? L"'" : L", '") + PrintableName(entry.name) + L"'";
      if (entry.name != name) continue;
      if (count++ == 0) {
        store = i;
        partition = &entry;
      }
    }
  }
  if (count == 1) return 0;
  if (count > 1)
    return PrintErrorLine(
        L"The image has %u partitions named %s; which one is meant cannot be "
        L"told.\n",
        count, PrintableName(name).c_str());
  return PrintErrorLine(L"The image has no partition named %s; it has %s.\n",
                        PrintableName(name).c_str(),
                        names.empty() ? L"no partitions" : names.c_str());
}
