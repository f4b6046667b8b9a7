#include "volumes/FileSystemProbe.h"

#include <cstring>

#include "formats/LittleEndian.h"

namespace {
// The boot sector's OEM name, where NTFS and exFAT put theirs.
constexpr size_t kOemName = 3;
// The FAT type text of FAT12/16 and of FAT32 boot sectors.
constexpr size_t kFatType = 54;
constexpr size_t kFat32Type = 82;
constexpr size_t kBootSignature = 510;
// The ext superblock: its magic and its feature words.
constexpr size_t kExtSuperblock = 1024;
constexpr size_t kExtMagic = kExtSuperblock + 56;
constexpr size_t kExtCompatible = kExtSuperblock + 92;
constexpr size_t kExtIncompatible = kExtSuperblock + 96;
constexpr uint32_t kExtHasJournal = 0x4;
// Extents, 64-bit block numbers, flexible block groups: ext4's own.
constexpr uint32_t kExt4Features = 0x40 | 0x80 | 0x200;

bool HasText(const uint8_t* bytes, size_t length, size_t at, const char* text) {
  size_t size = std::strlen(text);
  return at + size <= length && std::memcmp(bytes + at, text, size) == 0;
}
}  // namespace

const wchar_t* FileSystemName(const uint8_t* first, size_t length) {
  if (HasText(first, length, kOemName, "NTFS    ")) return L"NTFS";
  if (HasText(first, length, kOemName, "EXFAT   ")) return L"exFAT";
  bool bootSigned = length >= kBootSignature + 2 && first[kBootSignature] == 0x55 &&
                    first[kBootSignature + 1] == 0xAA;
  if (bootSigned && (HasText(first, length, kFatType, "FAT") ||
                     HasText(first, length, kFat32Type, "FAT32")))
    return L"FAT";
  if (length >= kExtIncompatible + 4 && first[kExtMagic] == 0x53 && first[kExtMagic + 1] == 0xEF) {
    if (LoadLittle<uint32_t>(first + kExtIncompatible) & kExt4Features) return L"ext4";
    return LoadLittle<uint32_t>(first + kExtCompatible) & kExtHasJournal ? L"ext3" : L"ext2";
  }
  return L"none";
}
