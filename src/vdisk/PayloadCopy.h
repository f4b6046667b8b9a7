#pragma once

#include <cstdint>

#include "win32.h"

class MountSession;
class StoreReader;
struct TargetLocation;

// Where block `k` of an entry's location lands on a disk of `diskSectorCount`
// sectors: the location's offset plus k blocks. False when the block would
// not lie wholly on the disk.
bool BlockTargetOffset(const TargetLocation& location, uint32_t k, uint32_t blockSize,
                       uint32_t sectorSize, uint64_t diskSectorCount, uint64_t& offset);

// Everything about the store table that can be known before a disk exists:
// the block size, every target against a disk of `diskSectorCount` sectors
// (CheckTable), and that the payload the table asks for lies in the file
// (from the file's current position, the payload's start). 0 when the copy
// can go ahead; otherwise the line of the first fault is printed and the
// result is non-zero.
int CheckTable(const StoreReader& reader, uint64_t diskSectorCount);
int CheckPayload(const StoreReader& reader, uint64_t diskSectorCount);

// Copies the payload onto the session's disk and refreshes the disk; the
// session's store reader is loaded and checked already. 0, or 1 on failure.
int FillDisk(MountSession& session);
int CopyPayload(StoreReader& reader, HANDLE diskHandle, HANDLE imageFile,
                uint64_t diskSectorCount);
