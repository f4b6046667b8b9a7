#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "win32.h"

class ChunkedFileReader;
class FfuImage;
class StoreReader;

// One store's disk as its block table writes it, read straight from the
// image file: the partition table and any other byte range are known
// without making a disk. A range maps to the payload bytes the table writes
// there, to zeros where no entry writes, and where entries write the same
// place the later one wins, as it does on the disk.
class DiskView {
 public:
  // `reader` is a loaded store of `image`; both must outlive the view. With
  // `checked`, which must outlive it too, every payload byte is read through
  // that reader, checked against the hash table.
  DiskView(const FfuImage& image, const StoreReader& reader,
           ChunkedFileReader* checked = nullptr);

  uint64_t DiskBytes() const { return diskBytes; }
  uint32_t SectorSize() const { return sectorSize; }

  // Reads `length` bytes of the disk from `offset` into `buffer`, at
  // offsets of the image file; the image check is not fed.
  // Returns: 0; ERROR_INVALID_PARAMETER for a range that does not lie on
  // the disk; ERROR_CRC when checked reads meet a damaged chunk; the Win32 code of a failed read of the file
  // (ERROR_HANDLE_EOF when the file ends before the payload does).
  DWORD Read(uint64_t offset, void* buffer, size_t length) const;
  // Returns: the bytes of the range that blocks of the table write (at most
  // its length), what a sparse copy of it takes.
  uint64_t BytesWritten(uint64_t offset, uint64_t length) const;

 private:
  // Payload bytes at one place of the disk: after construction the runs lie
  // apart, in disk order.
  struct Run {
    uint64_t diskStart;
    uint64_t length;
    uint64_t fileOffset;
  };
  void MakeDisjoint();
  static void Paint(std::map<uint64_t, Run>& painted, const Run& run);
  static Run Slice(const Run& run, uint64_t from, uint64_t to);
  std::vector<Run>::const_iterator FirstRunAfter(uint64_t offset) const;
  DWORD ReadFileAt(uint64_t offset, uint8_t* buffer, uint64_t length) const;

  HANDLE file;
  ChunkedFileReader* checked;
  uint64_t diskBytes = 0;
  uint32_t sectorSize = 0;
  std::vector<Run> runs;
};
