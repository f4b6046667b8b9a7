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

const char kCreatorApp[4] = {'b', 'r', 'k', 'w'};
const uint32_t kCreatorVersion = 0x00010000;
const char kCreatorHost[4] = {'L', 'n', 'u', 'x'};
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
  VhdFooterRecord record;
  memcpy(&record, bytes, sizeof(record));
  return VhdFooterChecksum(record);
}

VhdFooter VhdFooter::ForNewDisk(uint64_t diskSize) {
  VhdFooter footer;
  footer.originalSize = diskSize;
  footer.currentSize = diskSize;
  const time_t now = time(nullptr);
  footer.timestamp = now > kVhdEpoch ? static_cast<uint32_t>(now - kVhdEpoch) : 0;
  NewRandomId(footer.uniqueId);
  footer.geometry = VhdGeometryForSize(diskSize);
  return footer;
}

void VhdFooter::Encode(uint8_t bytes[kVhdFooterSize]) const {
  VhdFooterRecord record;
  memset(&record, 0, sizeof(record));
  memcpy(record.cookie, kVhdCookie, sizeof(record.cookie));
  record.features = kVhdFeaturesReserved;
  record.formatVersion = kVhdFormatVersion;
  record.dataOffset = kVhdNoDataOffset;
  record.timestamp = timestamp;
  memcpy(record.creatorApplication, kCreatorApp, sizeof(record.creatorApplication));
  record.creatorVersion = kCreatorVersion;
  memcpy(record.creatorHostOs, kCreatorHost, sizeof(record.creatorHostOs));
  record.originalSize = originalSize;
  record.currentSize = currentSize;
  record.cylinders = geometry.cylinders;
  record.heads = geometry.heads;
  record.sectorsPerTrack = geometry.sectorsPerTrack;
  record.diskType = kVhdDiskTypeFixed;
  memcpy(record.uniqueId, uniqueId, sizeof(record.uniqueId));
  record.savedState = 0;
  VhdFooterByteOrder(&record);
  record.checksum = __builtin_bswap32(VhdFooterChecksum(record));
  memcpy(bytes, &record, sizeof(record));
}

DWORD VhdFooter::Decode(const uint8_t bytes[kVhdFooterSize]) {
  VhdFooterRecord record;
  memcpy(&record, bytes, sizeof(record));
  const uint32_t checksum = VhdFooterChecksum(record);
  VhdFooterByteOrder(&record);
  if (memcmp(record.cookie, kVhdCookie, sizeof(record.cookie)) != 0 ||
      record.checksum != checksum || record.diskType != kVhdDiskTypeFixed) {
    return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
  }
  timestamp = record.timestamp;
  originalSize = record.originalSize;
  currentSize = record.currentSize;
  geometry.cylinders = record.cylinders;
  geometry.heads = record.heads;
  geometry.sectorsPerTrack = record.sectorsPerTrack;
  memcpy(uniqueId, record.uniqueId, sizeof(uniqueId));
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
