#include "formats/VhdLayout.h"

#include <cstddef>
#include <cstring>

namespace {
const char kCreatorApp[4] = {'b', 'r', 'k', 'w'};
const uint32_t kCreatorVersion = 0x00010000;
// The tool is a Windows program, and both of its builds write the same file.
const char kCreatorHost[4] = {'W', 'i', '2', 'k'};
constexpr uint64_t kDataAlignment = 4096;
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

uint32_t VhdTimestamp(int64_t unixSeconds) {
  return unixSeconds > kVhdEpoch ? static_cast<uint32_t>(unixSeconds - kVhdEpoch) : 0;
}

uint32_t VhdChecksum(const uint8_t bytes[kVhdFooterSize]) {
  return VhdRecordChecksum(bytes, kVhdFooterSize, offsetof(VhdFooterRecord, checksum));
}

void EncodeVhdFooter(const VhdFooterFields& fields, uint8_t bytes[kVhdFooterSize]) {
  VhdFooterRecord record;
  memset(&record, 0, sizeof(record));
  memcpy(record.cookie, kVhdCookie, sizeof(record.cookie));
  record.features = kVhdFeaturesReserved;
  record.formatVersion = kVhdFormatVersion;
  record.dataOffset = fields.dataOffset;
  record.timestamp = fields.timestamp;
  memcpy(record.creatorApplication, kCreatorApp, sizeof(record.creatorApplication));
  record.creatorVersion = kCreatorVersion;
  memcpy(record.creatorHostOs, kCreatorHost, sizeof(record.creatorHostOs));
  record.originalSize = fields.originalSize;
  record.currentSize = fields.currentSize;
  record.cylinders = fields.geometry.cylinders;
  record.heads = fields.geometry.heads;
  record.sectorsPerTrack = fields.geometry.sectorsPerTrack;
  record.diskType = fields.diskType;
  memcpy(record.uniqueId, fields.uniqueId, sizeof(record.uniqueId));
  VhdFooterByteOrder(&record);
  record.checksum = __builtin_bswap32(VhdFooterChecksum(record));
  memcpy(bytes, &record, sizeof(record));
}

bool DecodeVhdFooter(const uint8_t bytes[kVhdFooterSize], VhdFooterFields* fields) {
  VhdFooterRecord record;
  memcpy(&record, bytes, sizeof(record));
  const uint32_t checksum = VhdFooterChecksum(record);
  VhdFooterByteOrder(&record);
  if (memcmp(record.cookie, kVhdCookie, sizeof(record.cookie)) != 0 || record.checksum != checksum)
    return false;
  fields->timestamp = record.timestamp;
  fields->originalSize = record.originalSize;
  fields->currentSize = record.currentSize;
  fields->geometry.cylinders = record.cylinders;
  fields->geometry.heads = record.heads;
  fields->geometry.sectorsPerTrack = record.sectorsPerTrack;
  fields->diskType = record.diskType;
  fields->dataOffset = record.dataOffset;
  memcpy(fields->uniqueId, record.uniqueId, sizeof(fields->uniqueId));
  return true;
}

VhdDynamicLayout VhdDynamicLayout::For(uint64_t diskSize, uint32_t blockSize) {
  VhdDynamicLayout layout;
  layout.diskSize = diskSize;
  layout.blockSize = blockSize;
  const uint64_t sectorsPerBlock = blockSize / kVhdSectorSize;
  layout.bitmapSize = static_cast<uint32_t>((sectorsPerBlock / 8 + 511) / 512 * 512);
  layout.blocks = static_cast<uint32_t>((diskSize + blockSize - 1) / blockSize);
  layout.tableOffset = kVhdFooterSize + kVhdDynamicHeaderSize;
  layout.tableSize = (uint64_t{layout.blocks} * 4 + 511) / 512 * 512;
  const uint64_t tableEnd = layout.tableOffset + layout.tableSize;
  const uint64_t data = (tableEnd + layout.bitmapSize + kDataAlignment - 1) / kDataAlignment *
                        kDataAlignment;
  layout.firstBlock = data - layout.bitmapSize;
  return layout;
}

void EncodeVhdDynamicHeader(const VhdDynamicLayout& layout,
                            uint8_t bytes[kVhdDynamicHeaderSize]) {
  VhdDynamicHeaderRecord record;
  memset(&record, 0, sizeof(record));
  memcpy(record.cookie, kVhdDynamicCookie, sizeof(record.cookie));
  record.dataOffset = kVhdNoDataOffset;
  record.tableOffset = layout.tableOffset;
  record.headerVersion = kVhdDynamicHeaderVersion;
  record.maxTableEntries = layout.blocks;
  record.blockSize = layout.blockSize;
  VhdDynamicHeaderByteOrder(&record);
  record.checksum = __builtin_bswap32(
      VhdRecordChecksum(&record, sizeof(record), offsetof(VhdDynamicHeaderRecord, checksum)));
  memcpy(bytes, &record, sizeof(record));
}
