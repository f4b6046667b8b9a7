#include "volumes/DriveLayout.h"

#include <cstring>

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/ProgramLines.h"
#include "formats/GptRecords.h"
#include "platform.h"

namespace {
constexpr size_t kFirstLayoutSize = 1024;
// The buffer doubles while the drive answers "too small"; a drive that still
// does at this size is answering nonsense, and the query fails with its error.
constexpr size_t kMaxLayoutSize = 16u << 20;
constexpr size_t kEntryOffset = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
}  // namespace

int QueryDriveLayout(HANDLE diskHandle, DriveLayout& layout) {
  for (size_t size = kFirstLayoutSize;; size *= 2) {
    layout.buffer.assign(size, 0);
    DWORD bytesReturned = 0;
    if (DeviceIoControl(diskHandle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0,
                        layout.buffer.data(), static_cast<DWORD>(size), &bytesReturned, nullptr))
      return 0;
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || size >= kMaxLayoutSize) {
      layout.buffer.clear();
      layout.buffer.shrink_to_fit();
      return static_cast<int>(error);
    }
  }
}

const DRIVE_LAYOUT_INFORMATION_EX& DriveLayout::Header() const {
  return *reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
}

uint32_t DriveLayout::EntryCount() const {
  if (buffer.size() < kEntryOffset) return 0;
  size_t fitting = (buffer.size() - kEntryOffset) / sizeof(PARTITION_INFORMATION_EX);
  uint32_t declared = Header().PartitionCount;
  return declared < fitting ? declared : static_cast<uint32_t>(fitting);
}

const PARTITION_INFORMATION_EX& DriveLayout::Entry(uint32_t index) const {
  const uint8_t* entry = buffer.data() + kEntryOffset + index * sizeof(PARTITION_INFORMATION_EX);
  return *reinterpret_cast<const PARTITION_INFORMATION_EX*>(entry);
}

int GetDriveLayout(HANDLE diskHandle, DriveLayout& layout) {
  const int error = QueryDriveLayout(diskHandle, layout);
  return error == 0 ? 0 : ReportDriveLayoutFailure(static_cast<DWORD>(error));
}

int ReportDriveLayoutFailure(DWORD error) {
  PrintWarningLine(L"Unable to get disk layout.\n");
  return FailWithError(error);
}

bool IsImageDisk(const DriveLayout& layout) {
  if (layout.buffer.size() < kEntryOffset) return false;
  const DRIVE_LAYOUT_INFORMATION_EX& header = layout.Header();
  return header.PartitionStyle == PARTITION_STYLE_GPT &&
         std::memcmp(&header.Gpt.DiskId, &kImageDiskId, sizeof(GUID)) == 0;
}

bool MatchPartitionName(const PARTITION_INFORMATION_EX& entry, const std::wstring& name) {
  return GptNameText(entry.Gpt.Name) == name;
}

std::wstring MakeVolumeGuidPath(const PARTITION_INFORMATION_EX& entry) {
  return L"\\\\?\\Volume" + GuidText(entry.Gpt.PartitionId) + L"\\";
}

std::wstring MakeVolumeDevicePath(const PARTITION_INFORMATION_EX& entry) {
  return L"\\\\.\\Volume" + GuidText(entry.Gpt.PartitionId);
}
