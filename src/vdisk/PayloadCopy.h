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

int FillDisk(MountSession& session);
int CopyPayload(StoreReader& reader, HANDLE diskHandle, HANDLE imageFile,
                uint64_t diskSectorCount);
