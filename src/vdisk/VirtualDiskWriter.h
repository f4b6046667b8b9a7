#pragma once

#include <cstdint>
#include <vector>

#include "formats/VhdLayout.h"
#include "formats/VhdxLayout.h"
#include "vdisk/DiskImageSink.h"

class OutputFile;

// A dynamic VHD or VHDX file of a disk: a block of the disk takes space in
// the file only once something is written to it, whatever the file system
// (no sparse files needed). Blocks are placed one after the other as they
// are first written; the tables and headers are written by Finish, with
// fresh identifiers.
class VirtualDiskWriter : public DiskImageSink {
 public:
  // The block size of both formats: small enough that scattered data costs
  // little space, large enough that the tables stay small.
  static constexpr uint32_t kBlockSize = 2u << 20;

  VirtualDiskWriter(OutputFile& file, ImageContainer container, uint64_t diskSize,
                    uint32_t sectorSize);

  // Returns: 0 when the format can hold the disk, else non-zero after the
  // line that says why not.
  static int CheckFits(ImageContainer container, uint64_t diskSize, uint32_t sectorSize);

  int Write(uint64_t offset, const uint8_t* data, uint64_t length) override;
  bool ReadsZeros(uint64_t offset, uint64_t length) const override;
  int Finish() override;

 private:
  static constexpr uint64_t kAbsent = 0;

  // Returns: 0 with `place` set to the file offset of block `block`'s bytes,
  // placing the block at the file's end when it has none yet.
  int PlaceOf(uint64_t block, uint64_t& place);
  int FinishVhd();
  int FinishVhdx();

  OutputFile& file;
  ImageContainer container;
  uint64_t diskSize;
  VhdDynamicLayout vhd;
  VhdxLayout vhdx;
  std::vector<uint64_t> places;  // per block: its bytes' file offset, or kAbsent
  uint64_t fileEnd;
};
