// Random identifiers of the random-number version (4), as disk files carry
// them.
#pragma once

#include <cstdint>

#include "formats/DiskGuid.h"

// Fills `id` in the byte order of its text form (a VHD footer's unique id).
void NewRandomId(uint8_t id[16]);

// Returns: a new identifier as a GUID record (its first three fields
// little-endian), as VHDX files and partition tables store them.
DiskGuid NewRandomGuid();
