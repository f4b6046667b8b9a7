#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ffu/PartitionTable.h"

class FfuImage;
class StoreSet;

// The store and partition a run mounts, chosen from the partition tables in
// the file before anything is made.
struct MountChoice {
  size_t store = 0;  // index in the image's stores
  ImagePartition partition;
  uint64_t length = 0;  // bytes
  uint32_t sectorSize = 0;  // of the chosen store's disk
  bool byName = false;  // named so, not the largest basic data partition
};

// Chooses from the tables of the stores, in store order: the partition named
// `wanted`; with an empty `wanted`, the one named "MainOS", else the largest
// basic data partition (the first of equal size). Refuses, with a line, a
// name that no partition or more than one carries, an image with neither
// kind of partition, and a chosen partition that Windows would give no
// volume: one that ends before it begins, is not of the basic data type, or
// is hidden.
// Returns: 0 with `choice` set; otherwise the character count of the line.
int ChooseFromTables(const std::vector<std::vector<ImagePartition>>& tables,
                     const std::vector<uint32_t>& sectorSizes, const std::wstring& wanted,
                     MountChoice& choice);

// Finds the partitions named `name` in the tables, in store order.
// Returns: how many carry the name; `store` and `partition` name the first.
uint32_t FindNamedPartition(const std::vector<std::vector<ImagePartition>>& tables,
                            const std::wstring& name, size_t& store,
                            const ImagePartition*& partition);

// Returns: the name of every partition of the tables, quoted and printable,
// joined by ", " and by `last` before the last: "'a', 'b' and 'c'".
std::wstring QuotedPartitionNames(const std::vector<std::vector<ImagePartition>>& tables,
                                  const wchar_t* last);

// A partition as the choice of the largest basic data partition weighs it.
struct PartitionWeight {
  DiskGuid type;
  uint64_t length;  // bytes
};

// Returns: the place in `partitions` of the largest basic data partition
// (the first of equal size); partitions.size() when no basic data partition
// has a length. The mount chooses so from the file's tables, the clean-up
// from the attached disk's layout.
size_t LargestBasicData(const std::vector<PartitionWeight>& partitions);

// Reads the partition table of every store of the image through its disk
// view (see ReadPartitionTable).
// Returns: 0 with one table for each store (and in `usable`, when given, the
// usable sectors of each); otherwise the failure's result.
int ReadImagePartitions(const FfuImage& image, const StoreSet& stores,
                        std::vector<std::vector<ImagePartition>>& tables,
                        std::vector<UsableSectors>* usable = nullptr);

// ReadImagePartitions, then ChooseFromTables.
// Returns: 0 with `choice` set; otherwise the failure's result.
int ChooseMountPartition(const FfuImage& image, const StoreSet& stores, const std::wstring& wanted,
                         MountChoice& choice);
