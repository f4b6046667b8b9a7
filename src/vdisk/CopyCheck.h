#pragma once

#include <cstdint>
#include <vector>

#include "ffu/DamageReport.h"
#include "win32.h"

class DriveLayout;
class FfuImage;
class StoreReader;

// Returns: the partitions of a drive layout that have a length, by their GPT
// names (MBR ones by number), and for a GPT the areas before and after the
// usable region: "the partition table" and "the backup partition table".
std::vector<PartitionSpan> PartitionSpans(const DriveLayout& layout);

// After the store's payload: passes the rest of the file to the check, ends
// it and prints the lines of a check that could not be completed.
// Returns: 0; the Win32 error code of a failed read, after printing it.
int CheckToFileEnd(FfuImage& image, const StoreReader& reader);

// After the copy: passes the bytes after the payload to the check, ends it,
// and prints what it found, naming the partitions of the attached disk.
// Returns: 0, also for a damaged image; the Win32 error code of a failed
// read, after printing it.
int FinishImageCheck(FfuImage& image, const StoreReader& reader, HANDLE diskHandle,
                     uint64_t diskSectorCount);
