// The kernel's flags of a file (those chattr sets) that stand for attributes
// of Windows: compressed (FS_COMPR_FL) and encrypted (FS_ENCRYPT_FL). Both
// are inherited from the folder a file is made in, as on NTFS.
#pragma once

#include <string>

#include "win32_types.h"

// Returns: FILE_ATTRIBUTE_COMPRESSED and FILE_ATTRIBUTE_ENCRYPTED as the
// file open on `fd` has them; 0 when it has neither or has no such flags.
DWORD InodeFlagAttributes(int fd);
// The same for the file or folder at `path`, opened for reading; 0 also when
// it cannot be opened.
DWORD InodeFlagAttributesOf(const std::string& path);

// Sets or clears the compressed flag of the file open on `fd`.
// Returns: a Win32 code; ERROR_INVALID_FUNCTION where the file system keeps
// no such flag.
DWORD SetInodeCompression(int fd, bool compressed);
