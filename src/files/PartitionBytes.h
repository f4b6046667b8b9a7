#pragma once

#include <cstddef>
#include <cstdint>

class DiskView;

// One partition of a store's disk as a byte range of its checked view: what
// the file-system libraries read as their device. A partition held in
// memory (the fuzz target's) reads the same way.
class PartitionBytes {
 public:
  PartitionBytes(const DiskView& view, uint64_t start, uint64_t length, uint32_t sectorSize)
      : view(&view), start(start), length(length), sectorSize(sectorSize) {}
  PartitionBytes(const uint8_t* memory, uint64_t length, uint32_t sectorSize)
      : memory(memory), length(length), sectorSize(sectorSize) {}
  uint64_t Length() const { return length; }
  uint32_t SectorSize() const { return sectorSize; }
  // Reads what lies in the partition of `count` bytes from `offset`;
  // `got` is short at the partition's end.
  // Returns: 0, or EIO when the disk view's read fails (a damaged chunk, a
  // failed read of the image file: the reader printed why).
  int Read(uint64_t offset, void* buffer, size_t count, size_t& got) const;

 private:
  const DiskView* view = nullptr;
  const uint8_t* memory = nullptr;
  uint64_t start = 0;
  uint64_t length;
  uint32_t sectorSize;
};
