#pragma once

#include <cstdint>

#include "win32.h"

class FfuImage;
class StoreReader;

// Everything about the store table that can be known before a disk exists:
// the block size, every target against a disk of `diskSectorCount` sectors
// (CheckTable), and that the payload the table asks for lies in the file
// (from the payload's start).
// Returns: 0 when the copy can go ahead; otherwise non-zero after printing the
// line of the first fault.
int CheckTable(const StoreReader& reader, uint64_t diskSectorCount);
int CheckPayload(const StoreReader& reader, uint64_t diskSectorCount);

// Copies the payload onto the disk and refreshes the disk, then reports what
// the check of the image found; the store reader is loaded and checked
// already. A failed write names `diskPath`, the disk's VHD file.
// Returns: 0, or 1 after printing the failure.
int FillDisk(FfuImage& image, StoreReader& reader, HANDLE disk, const wchar_t* diskPath);
// Writes every entry's blocks to their places on the disk, with the progress
// line, feeding the image check as it reads the image's file; the table has passed CheckTable.
// Returns: 0, or non-zero after printing the failure.
int CopyPayload(StoreReader& reader, HANDLE diskHandle, uint64_t diskSectorCount,
                const wchar_t* diskPath);
