#include "ffu/MountChoice.h"

#include "common/FixedValues.h"
#include "common/ProgramLines.h"
#include "ffu/DiskView.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreSet.h"
#include "formats/GptRecords.h"

namespace {
void Choose(const std::vector<uint32_t>& sectorSizes, size_t store,
            const ImagePartition& partition, bool byName, MountChoice& choice) {
  choice.store = store;
  choice.partition = partition;
  choice.length = partition.Length(sectorSizes[store]);
  choice.sectorSize = sectorSizes[store];
  choice.byName = byName;
}

bool FindLargestBasicData(const std::vector<std::vector<ImagePartition>>& tables,
                          const std::vector<uint32_t>& sectorSizes, MountChoice& choice) {
  std::vector<PartitionWeight> weights;
  std::vector<std::pair<size_t, const ImagePartition*>> places;
  for (size_t store = 0; store < tables.size(); ++store) {
    for (const ImagePartition& partition : tables[store]) {
      weights.push_back({partition.type, partition.Length(sectorSizes[store])});
      places.emplace_back(store, &partition);
    }
  }
  const size_t largest = LargestBasicData(weights);
  if (largest == weights.size()) return false;
  Choose(sectorSizes, places[largest].first, *places[largest].second, false, choice);
  return true;
}

// A partition that would never get a volume is refused now, not after a
// wait for a volume that does not come.
int CheckMountable(const ImagePartition& partition) {
  const std::wstring printable = PrintableName(partition.name);
  const wchar_t* name = printable.c_str();
  if (partition.firstSector > partition.lastSector)
    return PrintErrorLine(
        L"The partition %s cannot be mounted because its first sector (%s) lies "
        L"after its last (%s).\n",
        name, std::to_wstring(partition.firstSector).c_str(),
        std::to_wstring(partition.lastSector).c_str());
  if (!SameDiskGuid(partition.type, kGptBasicDataType))
    return PrintErrorLine(
        L"The partition %s cannot be mounted because it is not a basic data "
        L"partition, and Windows gives no other kind a volume.\n",
        name);
  if (!GetsGptVolume(partition.type, partition.attributes))
    return PrintErrorLine(
        L"The partition %s cannot be mounted because it is hidden (GPT "
        L"attribute 62), and Windows gives a hidden partition no volume.\n",
        name);
  return 0;
}

// Two partitions over the same sectors: a volume of the chosen one would
// show bytes that another partition writes too.
int CheckNoOverlap(const ImagePartition& chosen, const std::vector<ImagePartition>& table) {
  for (const ImagePartition& other : table) {
    if (other.number == chosen.number || other.firstSector > other.lastSector ||
        other.firstSector > chosen.lastSector || chosen.firstSector > other.lastSector)
      continue;
    return PrintErrorLine(
        L"The partition %s cannot be mounted because it overlaps the partition %s "
        L"(sectors %s to %s).\n",
        PrintableName(chosen.name).c_str(), PrintableName(other.name).c_str(),
        std::to_wstring(other.firstSector).c_str(), std::to_wstring(other.lastSector).c_str());
  }
  return 0;
}
}  // namespace

int ChooseFromTables(const std::vector<std::vector<ImagePartition>>& tables,
                     const std::vector<uint32_t>& sectorSizes, const std::wstring& wanted,
                     MountChoice& choice) {
  const std::wstring name = wanted.empty() ? std::wstring(kMainPartitionName) : wanted;
  size_t store = 0;
  const ImagePartition* partition = nullptr;
  uint32_t named = FindNamedPartition(tables, name, store, partition);
  if (named > 0) Choose(sectorSizes, store, *partition, true, choice);
  if (named > 1)
    return PrintErrorLine(
        L"The image has %u partitions named %s; which one to mount cannot be "
        L"told.\n",
        named, PrintableName(name).c_str());
  if (named == 0 && !wanted.empty()) {
    std::wstring names = QuotedPartitionNames(tables, L" and ");
    return PrintErrorLine(L"The image has no partition named %s; it has %s.\n",
                          PrintableName(name).c_str(),
                          names.empty() ? L"no partitions" : names.c_str());
  }
  if (named == 0 && !FindLargestBasicData(tables, sectorSizes, choice))
    return PrintErrorLine(
        L"The image has no partition named MainOS and no basic "
        L"data partition to mount instead.\n");
  const int result = CheckMountable(choice.partition);
  if (result != 0) return result;
  return CheckNoOverlap(choice.partition, tables[choice.store]);
}

uint32_t FindNamedPartition(const std::vector<std::vector<ImagePartition>>& tables,
                            const std::wstring& name, size_t& store,
                            const ImagePartition*& partition) {
  uint32_t found = 0;
  for (size_t i = 0; i < tables.size(); ++i) {
    for (const ImagePartition& entry : tables[i]) {
      if (entry.name != name || found++ > 0) continue;
      store = i;
      partition = &entry;
    }
  }
  return found;
}

std::wstring QuotedPartitionNames(const std::vector<std::vector<ImagePartition>>& tables,
                                  const wchar_t* last) {
  std::vector<std::wstring> names;
  for (const auto& table : tables)
    for (const ImagePartition& partition : table)
      names.push_back(L"'" + PrintableName(partition.name) + L"'");
  return JoinedList(names, last);
}

size_t LargestBasicData(const std::vector<PartitionWeight>& partitions) {
  size_t largest = partitions.size();
  for (size_t i = 0; i < partitions.size(); ++i) {
    const PartitionWeight& weight = partitions[i];
    if (!SameDiskGuid(weight.type, kGptBasicDataType) || weight.length == 0) continue;
    if (largest == partitions.size() || weight.length > partitions[largest].length) largest = i;
  }
  return largest;
}

int ReadImagePartitions(const FfuImage& image, const StoreSet& stores,
                        std::vector<std::vector<ImagePartition>>& tables,
                        std::vector<UsableSectors>* usable) {
  tables.assign(stores.Count(), std::vector<ImagePartition>());
  if (usable != nullptr) usable->assign(stores.Count(), UsableSectors());
  for (size_t i = 0; i < stores.Count(); ++i) {
    DiskView view(image, stores.Reader(i));
    int result = ReadPartitionTable(view, static_cast<uint32_t>(i + 1), tables[i],
                                    usable != nullptr ? &(*usable)[i] : nullptr);
    if (result != 0) return result;
  }
  return 0;
}

int ChooseMountPartition(const FfuImage& image, const StoreSet& stores, const std::wstring& wanted,
                         MountChoice& choice) {
  std::vector<std::vector<ImagePartition>> tables;
  int result = ReadImagePartitions(image, stores, tables);
  if (result != 0) return result;
  std::vector<uint32_t> sectorSizes;
  for (size_t i = 0; i < stores.Count(); ++i)
    sectorSizes.push_back(stores.Reader(i).Store().sectorSize);
  return ChooseFromTables(tables, sectorSizes, wanted, choice);
}
