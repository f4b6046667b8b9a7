// A GUID as on-disk records store it: the fields of its published text form,
// each little-endian (the first three) or in text order (the last eight
// bytes). The platform's GUID record has the same 16 bytes.
#pragma once

#include <cstdint>
#include <cstring>

struct DiskGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(DiskGuid) == 16, "a GUID is 16 bytes on disk");

// Returns: whether the two hold the same 16 bytes.
inline bool SameDiskGuid(const DiskGuid& a, const DiskGuid& b) {
  return std::memcmp(&a, &b, sizeof(DiskGuid)) == 0;
}

// Returns: the 16 bytes of one GUID record as another record of the same
// layout (a DiskGuid as the platform's GUID, or back).
template <typename To, typename From>
To CopyGuid(const From& from) {
  static_assert(sizeof(To) == 16 && sizeof(From) == 16, "a GUID is 16 bytes");
  To to;
  std::memcpy(&to, &from, sizeof(to));
  return to;
}

// Returns: the platform's GUID as a DiskGuid.
template <typename Guid>
DiskGuid AsDiskGuid(const Guid& guid) {
  return CopyGuid<DiskGuid>(guid);
}
