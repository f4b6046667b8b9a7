#pragma once

#include <cstdint>
#include <string>

#include "win32.h"

class FfuImage;
class UniqueHandle;

// How far the creation came, so that a failed run knows what it made.
enum class VhdStage { kNone, kCreated, kAttached };

// Creates the VHD file `vhdPath` for the image's disk, attaches it and opens
// the disk into `diskHandle`; `stage` says how far that came.
// Returns: 0; the character count of the failure line without an image or
// for a sector size of 0; otherwise CreateAndAttachVhd's result.
int CreateImageVhd(const FfuImage* image, const std::wstring& vhdPath, UniqueHandle& diskHandle,
                   VhdStage& stage);
// Sweeps away the disks of earlier runs, then creates the VHD file of
// `maximumSize` bytes, uncompressed, attaches it and opens its disk into
// `diskHandle`. A temporary folder that is encrypted is refused first.
// Returns: 0 on success; the character count of the line that refuses an
// encrypted folder; a failed sweep's result (DetachImageDisks), printed
// once; otherwise the Win32 error code after printing the failure.
int CreateAndAttachVhd(HANDLE& diskHandle, uint32_t sectorSize, uint64_t maximumSize,
                       const std::wstring& vhdPath, VhdStage* stage = nullptr);
