#include "vhd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "support/runtime/errors.h"
#include "support/runtime/random_id.h"

namespace {

const char kSectorSizeAttribute[] = "user.brackwen.sector_size";

// Sector sizes of files whose file system keeps no user attributes; only
// this process can attach those with their true sector size.
std::mutex sectorSizeLock;
std::map<std::string, uint32_t> sectorSizeFallback;

void RememberSectorSize(const std::string& path, int fd, uint32_t sectorSize) {
  const std::string text = std::to_string(sectorSize);
  if (fsetxattr(fd, kSectorSizeAttribute, text.data(), text.size(), 0) == 0) return;
  char* real = realpath(path.c_str(), nullptr);
  std::lock_guard<std::mutex> guard(sectorSizeLock);
  sectorSizeFallback[real ? real : path] = sectorSize;
  free(real);
}

uint32_t RecalledSectorSize(const std::string& path, int fd) {
  char text[16] = {};
  const ssize_t length = fgetxattr(fd, kSectorSizeAttribute, text, sizeof(text) - 1);
  if (length > 0) {
    const unsigned long value = strtoul(text, nullptr, 10);
    if (value == 512 || value == 4096) return static_cast<uint32_t>(value);
  }
  char* real = realpath(path.c_str(), nullptr);
  std::lock_guard<std::mutex> guard(sectorSizeLock);
  auto found = sectorSizeFallback.find(real ? real : path);
  free(real);
  return found != sectorSizeFallback.end() ? found->second : 512;
}

}  // namespace

VhdFooter VhdFooter::ForNewDisk(uint64_t diskSize) {
  VhdFooter footer;
  footer.originalSize = diskSize;
  footer.currentSize = diskSize;
  footer.timestamp = VhdTimestamp(time(nullptr));
  NewRandomId(footer.uniqueId);
  footer.geometry = VhdGeometryForSize(diskSize);
  return footer;
}

DWORD VhdFooter::Decode(const uint8_t bytes[kVhdFooterSize]) {
  VhdFooterFields fields;
  if (!DecodeVhdFooter(bytes, &fields) || fields.diskType != kVhdDiskTypeFixed)
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  static_cast<VhdFooterFields&>(*this) = fields;
  return ERROR_SUCCESS;
}

DWORD VhdCreateFile(const std::string& path, uint64_t diskSize, uint32_t sectorSize) {
  if (diskSize == 0 || diskSize % 512 != 0 || (sectorSize != 512 && sectorSize != 4096) ||
      diskSize % sectorSize != 0 || diskSize > static_cast<uint64_t>(INT64_MAX) - kVhdFooterSize) {
    return ERROR_INVALID_PARAMETER;
  }
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno);
  uint8_t bytes[kVhdFooterSize];
  VhdFooter::ForNewDisk(diskSize).Encode(bytes);
  DWORD code = ERROR_SUCCESS;
  // The disk bytes stay a hole: only the footer is written.
  if (ftruncate(fd, static_cast<off_t>(diskSize)) != 0 ||
      pwrite(fd, bytes, kVhdFooterSize, static_cast<off_t>(diskSize)) !=
          static_cast<ssize_t>(kVhdFooterSize)) {
    code = Win32FromErrno(errno != 0 ? errno : EIO);
  } else {
    RememberSectorSize(path, fd, sectorSize);
  }
  close(fd);
  if (code != ERROR_SUCCESS) unlink(path.c_str());
  return code;
}

DWORD VhdOpenFile(const std::string& path, uint64_t* diskSize, uint32_t* sectorSize) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Win32FromErrno(errno);
  struct stat status;
  uint8_t bytes[kVhdFooterSize];
  DWORD code = ERROR_SUCCESS;
  VhdFooter footer;
  if (fstat(fd, &status) != 0) {
    code = Win32FromErrno(errno);
  } else if (!S_ISREG(status.st_mode) || status.st_size < static_cast<off_t>(2 * kVhdFooterSize) ||
             pread(fd, bytes, kVhdFooterSize, status.st_size - kVhdFooterSize) !=
                 static_cast<ssize_t>(kVhdFooterSize) ||
             footer.Decode(bytes) != ERROR_SUCCESS ||
             footer.currentSize != static_cast<uint64_t>(status.st_size) - kVhdFooterSize) {
    code = ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  } else {
    *diskSize = footer.currentSize;
    *sectorSize = RecalledSectorSize(path, fd);
  }
  close(fd);
  return code;
}
