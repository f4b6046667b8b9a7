// The fixed-format VHD file: the raw disk bytes followed by a 512-byte footer.
#pragma once

#include <cstdint>
#include <string>

#include "formats/VhdLayout.h"
#include "win32_types.h"

// The footer of a fixed disk as this layer writes and reads it back.
class VhdFooter : public VhdFooterFields {
 public:
  // A footer for a new fixed disk of diskSize bytes, stamped now, with a
  // random unique id.
  static VhdFooter ForNewDisk(uint64_t diskSize);

  // Writes the 512 bytes, checksum included.
  void Encode(uint8_t bytes[kVhdFooterSize]) const { EncodeVhdFooter(*this, bytes); }

  // Reads a fixed-disk footer. Returns: ERROR_SUCCESS, or
  // ERROR_VIRTDISK_NOT_VIRTUAL_DISK when the cookie, the checksum or the disk
  // type is wrong.
  DWORD Decode(const uint8_t bytes[kVhdFooterSize]);
};

// Creates the file: sparse, diskSize bytes, then the footer. The sector size
// is kept in an extended attribute of the file because the fixed format has
// no field for it. Returns: a Win32 code, ERROR_FILE_EXISTS when it exists.
DWORD VhdCreateFile(const std::string& path, uint64_t diskSize, uint32_t sectorSize);

// Reads the footer of an existing fixed VHD: the disk size and the sector
// size it was created with (512 when none was recorded). Returns: a Win32
// code, ERROR_VIRTDISK_NOT_VIRTUAL_DISK when the file is no fixed VHD.
DWORD VhdOpenFile(const std::string& path, uint64_t* diskSize, uint32_t* sectorSize);
