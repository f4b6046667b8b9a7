#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win32.h"

// The reply of the drive layout query: a DRIVE_LAYOUT_INFORMATION_EX header
// followed by its partition entries, in one owned buffer.
class DriveLayout {
 public:
  const DRIVE_LAYOUT_INFORMATION_EX& Header() const;
  // Entries that lie wholly inside the buffer; never more than the header says.
  uint32_t EntryCount() const;
  const PARTITION_INFORMATION_EX& Entry(uint32_t index) const;

  std::vector<uint8_t> buffer;
};

int GetDriveLayout(HANDLE diskHandle, DriveLayout& layout);
bool IsImageDisk(const DriveLayout& layout);
bool MatchPartitionName(const PARTITION_INFORMATION_EX& entry, const std::wstring& name);
std::wstring MakeVolumeGuidPath(const PARTITION_INFORMATION_EX& entry);
std::wstring MakeVolumeDevicePath(const PARTITION_INFORMATION_EX& entry);
