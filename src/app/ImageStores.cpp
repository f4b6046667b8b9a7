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
  return ReadImagePartitions(image, stores, tables, &usable);
}

std::vector<uint32_t> ImageStores::SectorSizes() const {
  std::vector<uint32_t> sizes;
  for (size_t i = 0; i < stores.Count(); ++i) sizes.push_back(stores.Reader(i).Store().sectorSize);
  return sizes;
}

std::vector<PartitionSpan> ImageStores::Spans(size_t index) const {
  if (index >= tables.size()) return std::vector<PartitionSpan>();
  return TableSpans(tables[index], index < usable.size() ? usable[index] : UsableSectors(),
                    stores.Reader(index).Store().sectorSize);
}

int ImageStores::FindNamed(const std::wstring& name, size_t& store,
                           const ImagePartition*& partition) const {
  const uint32_t count = FindNamedPartition(tables, name, store, partition);
  if (count == 1) return 0;
  if (count > 1)
    return PrintErrorLine(
        L"The image has %u partitions named %s; which one is meant cannot be "
        L"told.\n",
        count, PrintableName(name).c_str());
  const std::wstring names = QuotedPartitionNames(tables, L", ");
  return PrintErrorLine(L"The image has no partition named %s; it has %s.\n",
                        PrintableName(name).c_str(),
                        names.empty() ? L"no partitions" : names.c_str());
}
