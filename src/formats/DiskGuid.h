// A GUID as on-disk records store it: the fields of its published text form,
// each little-endian (the first three) or in text order (the last eight
// bytes). The platform's GUID record has the same 16 bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

struct DiskGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(DiskGuid) == 16, "a GUID is 16 bytes on disk");

// Returns: whether the two GUID records (a DiskGuid or the platform's GUID,
// in any mix) hold the same 16 bytes.
template <typename A, typename B>
bool SameDiskGuid(const A& a, const B& b) {
  static_assert(sizeof(A) == 16 && sizeof(B) == 16, "a GUID is 16 bytes");
  return std::memcmp(&a, &b, 16) == 0;
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

// Returns: the GUID in its registry form, upper case in braces:
// "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}".
inline std::wstring DiskGuidText(const DiskGuid& guid) {
  auto hex = [](uint64_t value, int digits) {
    std::wstring text(static_cast<size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = L"0123456789ABCDEF"[value & 0xF];
    return text;
  };
  std::wstring text = L"{" + hex(guid.data1, 8) + L"-" + hex(guid.data2, 4) + L"-" +
                      hex(guid.data3, 4) + L"-" + hex(guid.data4[0], 2) + hex(guid.data4[1], 2) +
                      L"-";
  for (int i = 2; i < 8; ++i) text += hex(guid.data4[i], 2);
  return text + L"}";
}

// The same for the platform's GUID record.
template <typename Guid>
std::wstring GuidText(const Guid& guid) {
  return DiskGuidText(AsDiskGuid(guid));
}
