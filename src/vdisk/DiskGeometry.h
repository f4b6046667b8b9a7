#pragma once

#include <cstdint>

struct StoreDescription;

// Size of the disk when the manifest gives no sector count: 10 GiB.
constexpr uint64_t kDefaultDiskBytes = 0x280000000ull;

// The disk's sector count: the manifest's MinSectorCount, or 10 GiB worth of
// sectors when it gives none. 0 for a sector size of 0.
uint64_t DiskSectorCount(const StoreDescription& store);
