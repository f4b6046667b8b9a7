// The fixed-format VHD file: the raw disk bytes followed by a 512-byte footer.
#pragma once

#include <cstdint>
#include <string>

#include "formats/VhdRecords.h"
#include "win32_types.h"

inline constexpr uint32_t kVhdFooterSize = sizeof(VhdFooterRecord);

// CHS geometry recorded in the footer, computed from the disk size by the
// algorithm of the published VHD format.
struct VhdGeometry {
  uint16_t cylinders = 0;
  uint8_t heads = 0;
  uint8_t sectorsPerTrack = 0;
};

VhdGeometry VhdGeometryForSize(uint64_t diskSize);

// The fields of a footer that this layer writes and reads back. Everything
// else in the footer has a fixed value for a fixed disk.
class VhdFooter {
 public:
  uint64_t originalSize = 0;
  uint64_t currentSize = 0;
  uint32_t timestamp = 0;  // seconds since 2000-01-01 00:00:00 UTC
  uint8_t uniqueId[16] = {};
  VhdGeometry geometry;

  // A footer for a new fixed disk of diskSize bytes, stamped now, with a
  // random unique id.
  static VhdFooter ForNewDisk(uint64_t diskSize);

  // Writes the 512 bytes, checksum included.
  void Encode(uint8_t bytes[kVhdFooterSize]) const;

  // Reads a fixed-disk footer. Returns: ERROR_SUCCESS, or
  // ERROR_VIRTDISK_NOT_VIRTUAL_DISK when the cookie, the checksum or the disk
  // type is wrong.
  DWORD Decode(const uint8_t bytes[kVhdFooterSize]);
};

// Ones' complement of the sum of all footer bytes, the checksum field
// counted as zero.
uint32_t VhdChecksum(const uint8_t bytes[kVhdFooterSize]);

// Creates the file: sparse, diskSize bytes, then the footer. The sector size
// is kept in an extended attribute of the file because the fixed format has
// no field for it. Returns: a Win32 code, ERROR_FILE_EXISTS when it exists.
DWORD VhdCreateFile(const std::string& path, uint64_t diskSize, uint32_t sectorSize);

// Reads the footer of an existing fixed VHD: the disk size and the sector
// size it was created with (512 when none was recorded). Returns: a Win32
// code, ERROR_VIRTDISK_NOT_VIRTUAL_DISK when the file is no fixed VHD.
DWORD VhdOpenFile(const std::string& path, uint64_t* diskSize, uint32_t* sectorSize);
