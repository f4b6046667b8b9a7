// The partition table of a disk, read with libblkid, and its Win32 record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/GptRecords.h"
#include "win32_types.h"

struct DiskPartition {
  uint32_t number = 0;
  uint64_t startBytes = 0;
  uint64_t lengthBytes = 0;
  GUID typeId = {};       // GPT
  GUID partitionId = {};  // GPT
  uint64_t attributes = 0;
  uint16_t name[kGptNameUnits] = {};  // GPT, UTF-16 units, NUL-padded
  uint8_t mbrType = 0;     // MBR
  bool mbrBoot = false;    // MBR
};

struct DiskLayout {
  PARTITION_STYLE style = PARTITION_STYLE_RAW;
  GUID diskId = {};           // GPT
  uint32_t mbrSignature = 0;  // MBR
  uint64_t firstUsableBytes = 0;
  uint64_t usableLengthBytes = 0;
  uint32_t maxPartitionCount = 0;
  std::vector<DiskPartition> partitions;
};

// Reads the table of an open disk (a block device or an image file). A disk
// without a table is RAW with no partitions. Returns: a Win32 code.
DWORD ReadDiskLayout(int fd, DiskLayout* layout);

// Bytes of the DRIVE_LAYOUT_INFORMATION_EX record for this layout.
DWORD DriveLayoutSize(const DiskLayout& layout);

// Writes the record into the caller's buffer; *written gets the record's
// size either way. Returns: ERROR_SUCCESS, or ERROR_INSUFFICIENT_BUFFER when
// it does not fit.
DWORD FillDriveLayout(const DiskLayout& layout, void* buffer, DWORD bufferSize, DWORD* written);

// "01234567-89ab-cdef-0123-456789abcdef", braces allowed, any case.
bool ParseGuidText(const std::string& text, GUID* guid);

// UTF-8 text into at most 36 UTF-16 units, NUL-padded; a character that
// does not fit whole is dropped.
void Utf8ToGptName(const std::string& text, uint16_t name[kGptNameUnits]);
