#pragma once

#include <cstdint>
#include <vector>

#include "ffu/DamageReport.h"
#include "win32.h"

class DriveLayout;
class FfuImage;
class StoreReader;

// Returns: the partitions of a drive layout that have a length, by their GPT
// names (MBR ones by number).
std::vector<PartitionSpan> PartitionSpans(const DriveLayout& layout);

// After the copy: passes the bytes after the payload to the check, ends it,
// and prints what it found, naming the partitions of the attached disk.
// Returns: 0, also for a damaged image; the Win32 error code of a failed
// read, after printing it.
int FinishImageCheck(FfuImage& image, const StoreReader& reader, HANDLE diskHandle,
                     uint64_t diskSectorCount);
