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

// Reads the layout with a buffer that grows while the drive says it is too
// small. GetDriveLayout reports a failure with its two lines; QueryDriveLayout
// prints nothing and returns the error (also left as the last error), which
// ReportDriveLayoutFailure reports later as GetDriveLayout would have.
int GetDriveLayout(HANDLE diskHandle, DriveLayout& layout);
int QueryDriveLayout(HANDLE diskHandle, DriveLayout& layout);
int ReportDriveLayoutFailure();
bool IsImageDisk(const DriveLayout& layout);
bool MatchPartitionName(const PARTITION_INFORMATION_EX& entry, const std::wstring& name);
std::wstring MakeVolumeGuidPath(const PARTITION_INFORMATION_EX& entry);
std::wstring MakeVolumeDevicePath(const PARTITION_INFORMATION_EX& entry);
