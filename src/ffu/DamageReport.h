#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffu/PartitionTable.h"

class FfuImage;
class StoreReader;

// A partition of the disk as the damage lines name it, or one of the GPT's
// two copies of the partition table (`table`: named as it is, unquoted).
struct PartitionSpan {
  uint64_t start = 0;
  uint64_t length = 0;
  std::wstring name;
  bool table = false;
};

// Returns: the spans the damage lines name on a disk: the partitions that
// have a length, and for a GPT whose partitions lie in the `usableLength`
// bytes from `usableStart` (0: no GPT) the areas before and after them, "the
// partition table" and "the backup partition table". The mount builds them
// from the attached disk's layout, --check and --extract from the table in
// the file, so both name a damaged chunk alike.
std::vector<PartitionSpan> DiskSpans(std::vector<PartitionSpan> partitions, uint64_t usableStart,
                                     uint64_t usableLength);
// Returns: DiskSpans of a partition table read from the file.
std::vector<PartitionSpan> TableSpans(const std::vector<ImagePartition>& table,
                                      const UsableSectors& usable, uint32_t sectorSize);

// Says, for chunks of the image that do not match its hash table (the
// image's chunkCheck), what they hold: the headers and paddings by name, and
// for payload the ranges of the disk that it goes to, with the partitions
// that hold those ranges.
class DamageReport {
 public:
  // Without `partitionsKnown` (the layout could not be read) the disk
  // ranges are named without partitions.
  DamageReport(const FfuImage& image, const StoreReader& reader, uint64_t diskSectorCount,
               std::vector<PartitionSpan> partitions, bool partitionsKnown = true);

  // Returns: what chunk `index` holds, as the text after "it holds ".
  std::wstring Describe(uint32_t index) const;
  // One line for each damaged chunk the check listed, then one for the rest.
  void Print() const;

 private:
  struct DiskRange {
    uint64_t start;
    uint64_t end;  // one past the last byte
  };
  std::wstring DescribePayload(uint64_t from, uint64_t to) const;
  std::vector<DiskRange> PayloadRanges(uint64_t from, uint64_t to) const;
  std::wstring DescribeRange(const DiskRange& range) const;

  const FfuImage& image;
  const StoreReader& reader;
  uint64_t diskSectorCount;
  std::vector<PartitionSpan> partitions;
  bool partitionsKnown;
  std::vector<uint64_t> entryFirstBlock;  // payload block at which each entry starts
  uint64_t payloadBlocks = 0;
};
