#pragma once

#include <cstddef>
#include <cstdint>

// Bytes from a partition's start that FileSystemName looks at: the boot
// sector and, at 1024, an ext superblock.
inline constexpr size_t kProbeBytes = 2048;

// Returns: the file system whose signature the partition's first bytes
// carry: L"NTFS", L"exFAT", L"FAT", L"ext4", L"ext3", L"ext2", or L"none".
// `length` may be short of kProbeBytes (a small partition); what is missing
// counts as zeros.
const wchar_t* FileSystemName(const uint8_t* first, size_t length);
