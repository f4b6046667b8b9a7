#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reparse tags the file layer tells apart.
inline constexpr uint32_t kReparseMountPoint = 0xA0000003;  // a junction
inline constexpr uint32_t kReparseSymlink = 0xA000000C;
inline constexpr uint32_t kReparseWof = 0x80000017;  // data kept compressed in a stream

// Name of the stream that holds the data of a WOF-compressed file.
inline constexpr char kWofStreamName[] = "WofCompressedData";

// A file's reparse point as NTFS keeps it.
struct ReparseData {
  uint32_t tag = 0;
  std::vector<uint8_t> data;  // the whole reparse buffer, tag and length first
};

// Returns: where a symbolic link or junction points, with '/': a relative
// link as it is written; an absolute one on a drive ("C:\Windows") as a
// path from the link's folder (`depth` folders below the volume's root)
// through the volume's root, since the volume is that drive's root; any
// other absolute target as written. Empty when the buffer is malformed.
std::string LinkTarget(const ReparseData& reparse, size_t depth);
