// Partition volumes: one loop device per GPT partition, over the disk's own
// loop device, at the partition's offset. A volume is named by the GPT
// partition GUID that its offset falls on in its disk's current table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/formats/gpt.h"
#include "win32_types.h"

struct PartitionVolume {
  int volumeNumber = -1;  // /dev/loopN of the volume
  int diskNumber = -1;    // /dev/loopN of its disk
  GUID partitionId = {};
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Every volume whose offset is the start of a GPT partition of its disk,
// ordered by volume number.
std::vector<PartitionVolume> ListPartitionVolumes();

bool FindPartitionVolume(const GUID& partitionId, PartitionVolume* volume);

bool FindPartitionVolumeByNumber(int volumeNumber, PartitionVolume* volume);

// The GUID of "\\.\Volume{GUID}", "\\?\Volume{GUID}" or "\\?\Volume{GUID}\".
bool ParseVolumeName(const wchar_t* name, GUID* partitionId);

// "{guid}" in lower case, as Windows writes the GUIDs of volume names.
std::wstring VolumeGuidText(const GUID& partitionId);

// "\\?\Volume{guid}\", lower case.
std::wstring VolumeGuidPath(const GUID& partitionId);

// Whether `length` bytes at `offset` of the disk at loop N reach into one of
// its volumes that has a file system mounted.
bool MountedVolumeOverlaps(int diskNumber, uint64_t offset, uint64_t length);

// Reads the layout of the disk at loop N (opened read-only). Win32 code.
DWORD ReadLoopLayout(int diskNumber, DiskLayout* layout);
