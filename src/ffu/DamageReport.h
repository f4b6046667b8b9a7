#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FfuImage;
class StoreReader;

// A partition of the disk as the damage lines name it.
struct PartitionSpan {
  uint64_t start = 0;
  uint64_t length = 0;
  std::wstring name;
};

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
