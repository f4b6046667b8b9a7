#include "files/WofFile.h"

#include <sys/stat.h>  // struct timespec, before the library's headers look for it

#include <cerrno>

#include "files/TextCoding.h"

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/inode.h>
}

namespace {
// The stream's name as NTFS keeps it, UTF-16.
const ntfschar kStreamName[] = {'W', 'o', 'f', 'C', 'o', 'm', 'p', 'r', 'e',
                                's', 's', 'e', 'd', 'D', 'a', 't', 'a'};
}  // namespace

WofResult WofFile::Open(_ntfs_inode* inode, const ReparseData& reparse, uint64_t fileSize,
                        std::unique_ptr<WofFile>& file) {
  WofInfo info;
  WofResult result = ParseWofReparsePoint(reparse.data.data(), reparse.data.size(), info);
  if (result != kWofOk) return result;
  ntfs_attr* stream = ntfs_attr_open(inode, AT_DATA, const_cast<ntfschar*>(kStreamName),
                                     sizeof(kStreamName) / sizeof(kStreamName[0]));
  if (stream == nullptr) return kWofStreamReadFailed;
  file.reset(new WofFile(stream));
  file->reader = std::make_unique<WofFileReader>(
      *file, static_cast<uint64_t>(stream->data_size), info, fileSize);
  return kWofOk;
}

WofFile::~WofFile() {
  reader.reset();
  ntfs_attr_close(stream);
}

int WofFile::ReadAt(uint64_t offset, void* buffer, size_t length) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  while (got < length) {
    s64 piece = ntfs_attr_pread(stream, static_cast<s64>(offset + got),
                                static_cast<s64>(length - got), bytes + got);
    if (piece <= 0) return piece < 0 && errno != 0 ? errno : EIO;
    got += static_cast<size_t>(piece);
  }
  return 0;
}

std::string WofMark(const ReparseData& reparse) {
  WofInfo info;
  if (ParseWofReparsePoint(reparse.data.data(), reparse.data.size(), info) != kWofOk)
    return "unknown kind";
  return WideToUtf8(WofAlgorithmName(info.algorithm));
}

std::string WofFault(WofResult result) { return WideToUtf8(WofResultText(result)); }
