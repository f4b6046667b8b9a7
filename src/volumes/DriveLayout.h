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
  // Returns: the entries that lie wholly inside the buffer, never more than
  // the header says.
  uint32_t EntryCount() const;
  const PARTITION_INFORMATION_EX& Entry(uint32_t index) const;

  std::vector<uint8_t> buffer;
};

// Reads the layout with a buffer that grows while the drive says it is too
// small. GetDriveLayout reports a failure with its two lines; QueryDriveLayout
// prints nothing and returns the error, which ReportDriveLayoutFailure
// reports later as GetDriveLayout would have.
// Returns: 0 on success, or the Win32 error code; ReportDriveLayoutFailure
// always the code it reports (ERROR_GEN_FAILURE when there is none).
int GetDriveLayout(HANDLE diskHandle, DriveLayout& layout);
int QueryDriveLayout(HANDLE diskHandle, DriveLayout& layout);
int ReportDriveLayoutFailure(DWORD error);
// Returns: true for a GPT disk whose identifier marks it as an image disk.
bool IsImageDisk(const DriveLayout& layout);
// Returns: true when the entry's GPT name is exactly `name`.
bool MatchPartitionName(const PARTITION_INFORMATION_EX& entry, const std::wstring& name);
// Returns: "\\?\Volume{GUID}\", the name of the entry's volume.
std::wstring MakeVolumeGuidPath(const PARTITION_INFORMATION_EX& entry);
// Returns: "\\.\Volume{GUID}", the device path that opens that volume.
std::wstring MakeVolumeDevicePath(const PARTITION_INFORMATION_EX& entry);
