#pragma once

#include <cstddef>
#include <cstdint>
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

  // Reads `length` bytes of the disk from `offset` into `buffer`. The image
  // file is left where it stood, and the image check is not fed.
  // Returns: 0; ERROR_INVALID_PARAMETER for a range that does not lie on
  // the disk; ERROR_CRC when checked reads meet a damaged chunk; the Win32 code of a failed read of the file
  // (ERROR_HANDLE_EOF when the file ends before the payload does).
  DWORD Read(uint64_t offset, void* buffer, size_t length) const;
  // Returns: the bytes of the range that blocks of the table write (at most
  // its length), what a sparse copy of it takes.
  uint64_t BytesWritten(uint64_t offset, uint64_t length) const;

 private:
  // The blocks one place of one entry writes, in table order.
  struct Run {
    uint64_t diskStart;
    uint64_t length;
    uint64_t fileOffset;
  };
  DWORD ReadFileAt(uint64_t offset, uint8_t* buffer, uint64_t length) const;

  HANDLE file;
  ChunkedFileReader* checked;
  uint64_t diskBytes = 0;
  uint32_t sectorSize = 0;
  std::vector<Run> runs;
};
