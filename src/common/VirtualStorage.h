#pragma once

#include "win32.h"

// The storage type of a VHD from the platform's own provider.
VIRTUAL_STORAGE_TYPE VhdStorageType();
