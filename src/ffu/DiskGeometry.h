#pragma once

#include <cstdint>

struct StoreDescription;
struct TargetLocation;

// Size of the disk when the manifest gives no sector count: 10 GiB.
inline constexpr uint64_t kDefaultDiskBytes = 0x280000000ull;

// Returns: the disk's sector count: the manifest's MinSectorCount, or 10 GiB
// worth of sectors when it gives none; 0 for a sector size of 0.
uint64_t DiskSectorCount(const StoreDescription& store);

// What the platform's service can make of the image's disk, known from the
// image before anything is swept or made: a VHDX takes 512 or 4096-byte
// sectors only, and no disk is made under 3 MB. (A 512-byte disk over the
// VHD limit goes to a VHDX.)
// Returns: 0 when the disk can be made; otherwise the character count of
// the line that says why not.
int CheckDiskLimits(const StoreDescription& store);
// Returns: whether a disk has sectors of this size (512 or 4096 bytes), as
// the disk a mount makes and a raw image of it must.
bool IsDiskSectorSize(uint32_t sectorSize);

// Where block `k` of an entry's location lands on a disk of `diskSectorCount`
// sectors: the location's offset plus k blocks.
// Returns: true with `offset` set to that byte offset; false when the block
// would not lie wholly on the disk, or is smaller than a sector.
bool BlockTargetOffset(const TargetLocation& location, uint32_t k, uint32_t blockSize,
                       uint32_t sectorSize, uint64_t diskSectorCount, uint64_t& offset);
