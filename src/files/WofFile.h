#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "compression/WofFileReader.h"
#include "compression/WofStreamSource.h"
#include "files/ReparseData.h"

struct _ntfs_inode;
struct _ntfs_attr;

// The data of a file Windows keeps compressed through its overlay filter,
// read decompressed from its WofCompressedData stream through libntfs-3g,
// chunk by chunk as reads ask for it.
class WofFile : public WofStreamSource {
 public:
  // Opens the stream of `inode` (which must stay open while the file is)
  // for a file of `fileSize` bytes with the reparse point `reparse`.
  // Returns: kWofOk with `file` set; the reparse data's fault; or
  // kWofStreamReadFailed when the file has no such stream.
  static WofResult Open(_ntfs_inode* inode, const ReparseData& reparse, uint64_t fileSize,
                        std::unique_ptr<WofFile>& file);
  ~WofFile() override;

  WofResult Read(uint64_t offset, void* buffer, size_t length, size_t& done) {
    return reader->Read(offset, buffer, length, done);
  }
  int ReadAt(uint64_t offset, void* buffer, size_t length) override;

 private:
  explicit WofFile(_ntfs_attr* stream) : stream(stream) {}

  _ntfs_attr* stream;
  std::unique_ptr<WofFileReader> reader;
};

// Returns: what listings show of such a file: its algorithm ("XPRESS4K",
// "LZX", ...), or "unknown kind" when its reparse data names none we read.
std::string WofMark(const ReparseData& reparse);

// Returns: the line a failed read of such a file gives, in UTF-8.
std::string WofFault(WofResult result);
