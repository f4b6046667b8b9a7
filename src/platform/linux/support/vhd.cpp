#include "vhd.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "errors.h"

namespace {

const char kCookie[8] = {'c', 'o', 'n', 'e', 'c', 't', 'i', 'x'};
const uint32_t kFeatures = 2;             // the "reserved" bit, always set
const uint32_t kFormatVersion = 0x00010000;
const uint64_t kNoDataOffset = 0xFFFFFFFFFFFFFFFFull;  // fixed disks have no header
const char kCreatorApp[4] = {'b', 'r', 'k', 'w'};
const uint32_t kCreatorVersion = 0x00010000;
const char kCreatorHost[4] = {'L', 'n', 'u', 'x'};
const uint32_t kDiskTypeFixed = 2;
const uint32_t kVhdEpoch = 946684800;  // 2000-01-01 00:00:00 UTC in Unix time
const char kSectorSizeAttribute[] = "user.brackwen.sector_size";
const size_t kChecksumOffset = 64;

void PutBig(uint8_t* at, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    at[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

uint64_t GetBig(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | at[i];
  return value;
}

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

VhdGeometry VhdGeometryForSize(uint64_t diskSize) {
  uint64_t totalSectors = diskSize / 512;
  const uint64_t maxSectors = 65535ull * 16 * 255;
  if (totalSectors > maxSectors) totalSectors = maxSectors;
  uint64_t sectorsPerTrack;
  uint64_t heads;
  uint64_t cylinderTimesHeads;
  if (totalSectors >= 65535ull * 16 * 63) {
    sectorsPerTrack = 255;
    heads = 16;
    cylinderTimesHeads = totalSectors / sectorsPerTrack;
  } else {
    sectorsPerTrack = 17;
    cylinderTimesHeads = totalSectors / sectorsPerTrack;
    heads = (cylinderTimesHeads + 1023) / 1024;
    if (heads < 4) heads = 4;
    if (cylinderTimesHeads >= heads * 1024 || heads > 16) {
      sectorsPerTrack = 31;
      heads = 16;
      cylinderTimesHeads = totalSectors / sectorsPerTrack;
    }
    if (cylinderTimesHeads >= heads * 1024) {
      sectorsPerTrack = 63;
      heads = 16;
      cylinderTimesHeads = totalSectors / sectorsPerTrack;
    }
  }
  VhdGeometry geometry;
  geometry.cylinders = static_cast<uint16_t>(cylinderTimesHeads / heads);
  geometry.heads = static_cast<uint8_t>(heads);
  geometry.sectorsPerTrack = static_cast<uint8_t>(sectorsPerTrack);
  return geometry;
}

uint32_t VhdChecksum(const uint8_t bytes[kVhdFooterSize]) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kVhdFooterSize; ++i) {
    if (i >= kChecksumOffset && i < kChecksumOffset + 4) continue;
    sum += bytes[i];
  }
  return ~sum;
}

VhdFooter VhdFooter::ForNewDisk(uint64_t diskSize) {
  VhdFooter footer;
  footer.originalSize = diskSize;
  footer.currentSize = diskSize;
  const time_t now = time(nullptr);
  footer.timestamp = now > kVhdEpoch ? static_cast<uint32_t>(now - kVhdEpoch) : 0;
  if (getrandom(footer.uniqueId, sizeof(footer.uniqueId), 0) !=
      static_cast<ssize_t>(sizeof(footer.uniqueId))) {
    // Without the kernel's generator the id is still unique enough per file.
    const uint64_t seed = static_cast<uint64_t>(now) ^ (static_cast<uint64_t>(getpid()) << 32);
    PutBig(footer.uniqueId, seed, 8);
    PutBig(footer.uniqueId + 8, diskSize, 8);
  }
  footer.uniqueId[6] = static_cast<uint8_t>((footer.uniqueId[6] & 0x0F) | 0x40);  // random-id version
  footer.uniqueId[8] = static_cast<uint8_t>((footer.uniqueId[8] & 0x3F) | 0x80);
  footer.geometry = VhdGeometryForSize(diskSize);
  return footer;
}

void VhdFooter::Encode(uint8_t bytes[kVhdFooterSize]) const {
  memset(bytes, 0, kVhdFooterSize);
  memcpy(bytes, kCookie, 8);
  PutBig(bytes + 8, kFeatures, 4);
  PutBig(bytes + 12, kFormatVersion, 4);
  PutBig(bytes + 16, kNoDataOffset, 8);
  PutBig(bytes + 24, timestamp, 4);
  memcpy(bytes + 28, kCreatorApp, 4);
  PutBig(bytes + 32, kCreatorVersion, 4);
  memcpy(bytes + 36, kCreatorHost, 4);
  PutBig(bytes + 40, originalSize, 8);
  PutBig(bytes + 48, currentSize, 8);
  PutBig(bytes + 56, geometry.cylinders, 2);
  bytes[58] = geometry.heads;
  bytes[59] = geometry.sectorsPerTrack;
  PutBig(bytes + 60, kDiskTypeFixed, 4);
  memcpy(bytes + 68, uniqueId, 16);
  bytes[84] = 0;  // no saved state
  PutBig(bytes + kChecksumOffset, VhdChecksum(bytes), 4);
}

DWORD VhdFooter::Decode(const uint8_t bytes[kVhdFooterSize]) {
  if (memcmp(bytes, kCookie, 8) != 0) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  if (GetBig(bytes + kChecksumOffset, 4) != VhdChecksum(bytes)) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  if (GetBig(bytes + 60, 4) != kDiskTypeFixed) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  timestamp = static_cast<uint32_t>(GetBig(bytes + 24, 4));
  originalSize = GetBig(bytes + 40, 8);
  currentSize = GetBig(bytes + 48, 8);
  geometry.cylinders = static_cast<uint16_t>(GetBig(bytes + 56, 2));
  geometry.heads = bytes[58];
  geometry.sectorsPerTrack = bytes[59];
  memcpy(uniqueId, bytes + 68, 16);
  return ERROR_SUCCESS;
}

DWORD VhdCreateFile(const std::string& path, uint64_t diskSize, uint32_t sectorSize) {
  if (diskSize == 0 || diskSize % 512 != 0 || (sectorSize != 512 && sectorSize != 4096) ||
      diskSize % sectorSize != 0 || diskSize > static_cast<uint64_t>(INT64_MAX) - kVhdFooterSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
  }
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    const DWORD code = errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno);
    SetLastError(code);
    return code;
  }
  uint8_t bytes[kVhdFooterSize];
  VhdFooter::ForNewDisk(diskSize).Encode(bytes);
  DWORD code = ERROR_SUCCESS;
  // The disk bytes stay a hole: only the footer is written.
  if (ftruncate(fd, static_cast<off_t>(diskSize)) != 0 ||
      pwrite(fd, bytes, kVhdFooterSize, static_cast<off_t>(diskSize)) !=
          static_cast<ssize_t>(kVhdFooterSize)) {
    code = SetLastErrorFromErrno(errno != 0 ? errno : EIO);
  } else {
    RememberSectorSize(path, fd, sectorSize);
  }
  close(fd);
  if (code != ERROR_SUCCESS) unlink(path.c_str());
  if (code != ERROR_SUCCESS) SetLastError(code);
  return code;
}

DWORD VhdOpenFile(const std::string& path, uint64_t* diskSize, uint32_t* sectorSize) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SetLastErrorFromErrno(errno);
  struct stat status;
  uint8_t bytes[kVhdFooterSize];
  DWORD code = ERROR_SUCCESS;
  VhdFooter footer;
  if (fstat(fd, &status) != 0) {
    code = SetLastErrorFromErrno(errno);
  } else if (!S_ISREG(status.st_mode) || status.st_size < static_cast<off_t>(2 * kVhdFooterSize) ||
             pread(fd, bytes, kVhdFooterSize, status.st_size - kVhdFooterSize) !=
                 static_cast<ssize_t>(kVhdFooterSize) ||
             footer.Decode(bytes) != ERROR_SUCCESS ||
             footer.currentSize != static_cast<uint64_t>(status.st_size) - kVhdFooterSize) {
    code = ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
    SetLastError(code);
  } else {
    *diskSize = footer.currentSize;
    *sectorSize = RecalledSectorSize(path, fd);
  }
  close(fd);
  return code;
}
