#include "partition_volumes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cwchar>
#include <cwctype>
#include <map>

#include "loop_device.h"
#include "mountinfo.h"
#include "support/runtime/device_prefix.h"
#include "support/runtime/errors.h"
#include "support/runtime/text.h"

namespace {

const wchar_t kVolumePrefix[] = L"Volume";

bool PartitionAt(const DiskLayout& layout, uint64_t offset, const DiskPartition** found) {
  if (layout.style != PARTITION_STYLE_GPT) return false;
  for (const DiskPartition& partition : layout.partitions) {
    if (partition.startBytes == offset) {
      *found = &partition;
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD ReadLoopLayout(int diskNumber, DiskLayout* layout) {
  const int fd = open(LoopDevicePath(diskNumber).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Win32FromErrno(errno);
  const DWORD code = ReadDiskLayout(fd, layout);
  close(fd);
  return code;
}

std::vector<PartitionVolume> ListPartitionVolumes() {
  std::vector<PartitionVolume> volumes;
  std::map<int, DiskLayout> layouts;  // each disk's table read once
  for (const LoopBinding& binding : LoopListBindings()) {
    const int disk = LoopDiskOf(binding);
    if (disk < 0) continue;
    auto cached = layouts.find(disk);
    if (cached == layouts.end()) {
      DiskLayout layout;
      if (ReadLoopLayout(disk, &layout) != ERROR_SUCCESS) layout = DiskLayout();
      cached = layouts.emplace(disk, layout).first;
    }
    const DiskPartition* partition = nullptr;
    if (!PartitionAt(cached->second, binding.offset, &partition)) continue;
    PartitionVolume volume;
    volume.volumeNumber = binding.number;
    volume.diskNumber = disk;
    volume.partitionId = partition->partitionId;
    volume.offset = binding.offset;
    volume.length = binding.sizeLimit;
    volumes.push_back(volume);
  }
  return volumes;
}

bool FindPartitionVolume(const GUID& partitionId, PartitionVolume* volume) {
  for (const PartitionVolume& candidate : ListPartitionVolumes()) {
    if (SameDiskGuid(candidate.partitionId, partitionId)) {
      *volume = candidate;
      return true;
    }
  }
  return false;
}

bool FindPartitionVolumeByNumber(int volumeNumber, PartitionVolume* volume) {
  LoopBinding binding;
  if (!LoopReadBinding(volumeNumber, &binding) || LoopDiskOf(binding) < 0) return false;
  for (const PartitionVolume& candidate : ListPartitionVolumes()) {
    if (candidate.volumeNumber == volumeNumber) {
      *volume = candidate;
      return true;
    }
  }
  return false;
}

bool ParseVolumeName(const wchar_t* name, GUID* partitionId) {
  if (name == nullptr) return false;
  if (!HasDevicePrefix(name)) return false;
  std::wstring rest = std::wstring(name).substr(kDevicePrefixLength);
  if (rest.compare(0, 6, kVolumePrefix) != 0) return false;
  rest = rest.substr(6);
  if (rest.size() == 39 && rest.back() == L'\\') rest.pop_back();
  if (rest.size() != 38) return false;
  return ParseGuidText(ToUtf8(rest), partitionId);
}

std::wstring VolumeGuidText(const GUID& partitionId) {
  std::wstring text = GuidText(partitionId);
  for (wchar_t& character : text) character = static_cast<wchar_t>(towlower(character));
  return text;
}

std::wstring VolumeGuidPath(const GUID& partitionId) {
  return L"\\\\?\\Volume" + VolumeGuidText(partitionId) + L"\\";
}

bool MountedVolumeOverlaps(int diskNumber, uint64_t offset, uint64_t length) {
  for (const LoopBinding& binding : LoopListBindings()) {
    if (LoopDiskOf(binding) != diskNumber) continue;
    const uint64_t end = binding.sizeLimit == 0 ? UINT64_MAX : binding.offset + binding.sizeLimit;
    if (offset >= end || offset + length <= binding.offset) continue;
    if (!MountsOfDevice(LoopDevicePath(binding.number)).empty()) return true;
  }
  return false;
}
