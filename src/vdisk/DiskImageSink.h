#pragma once

#include <cstdint>
#include <string>

class OutputFile;

// The kinds of file the extract writes, chosen by the output file's
// extension: ".vhd" and ".vhdx" (any case) make virtual disk files, any other
// name a raw image.
enum class ImageContainer { kRaw, kVhd, kVhdx };
ImageContainer ContainerOfPath(const std::wstring& path);

// Where the extract puts a disk's bytes, at offsets from the disk's (or the
// range's) start.
class DiskImageSink {
 public:
  virtual ~DiskImageSink() = default;

  // Returns: 0, or the Win32 error code after reporting it.
  virtual int Write(uint64_t offset, const uint8_t* data, uint64_t length) = 0;

  // Returns: whether zeros at these bytes may be left out, since the file
  // reads zeros there without them.
  virtual bool ReadsZeros(uint64_t offset, uint64_t length) const = 0;

  // Writes what follows the disk's bytes and gives the file its name.
  // Returns: 0, or the Win32 error code after reporting it.
  virtual int Finish() = 0;
};

// A raw image: the disk's bytes at their places in a sparse file of the
// range's length. Zeros are left out (holes) unless the image's blocks
// overlap, when a block of zeros may have to cover an earlier one.
class RawImageSink : public DiskImageSink {
 public:
  RawImageSink(OutputFile& file, bool zerosMayBeLeftOut)
      : file(file), zerosMayBeLeftOut(zerosMayBeLeftOut) {}
  // Returns: 0, or the Win32 error code after reporting it.
  int Start(uint64_t length);
  int Write(uint64_t offset, const uint8_t* data, uint64_t length) override;
  bool ReadsZeros(uint64_t, uint64_t) const override { return zerosMayBeLeftOut; }
  int Finish() override;

 private:
  OutputFile& file;
  bool zerosMayBeLeftOut;
};
