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

// Returns: the id as another 16-byte GUID record of the same layout (the
// platform's GUID).
template <typename Guid>
Guid AsGuid(const DiskGuid& id) {
  static_assert(sizeof(Guid) == sizeof(DiskGuid), "a GUID is 16 bytes");
  Guid guid;
  std::memcpy(&guid, &id, sizeof(guid));
  return guid;
}

// Returns: the platform's GUID as a DiskGuid.
template <typename Guid>
DiskGuid AsDiskGuid(const Guid& guid) {
  static_assert(sizeof(Guid) == sizeof(DiskGuid), "a GUID is 16 bytes");
  DiskGuid id;
  std::memcpy(&id, &guid, sizeof(id));
  return id;
}
