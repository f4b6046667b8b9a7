#include "common/VirtualStorage.h"

VIRTUAL_STORAGE_TYPE VhdStorageType() {
  // {EC984AEC-A0F9-47E9-901F-71415A66345B}
  VIRTUAL_STORAGE_TYPE type{};
  type.DeviceId = VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
  type.VendorId = GUID{0xEC984AEC, 0xA0F9, 0x47E9, {0x90, 0x1F, 0x71, 0x41, 0x5A, 0x66, 0x34, 0x5B}};
  return type;
}
