#include "common/VirtualStorage.h"

namespace {
constexpr uint32_t kVhdSectorSize = 512;
constexpr wchar_t kVhdxExtension[] = L".vhdx";
constexpr size_t kVhdxExtensionLength = 5;

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }
}  // namespace

VirtualDiskFormat FormatForSectorSize(uint32_t sectorSize, uint64_t diskBytes) {
  return sectorSize == kVhdSectorSize && diskBytes <= kMaxVhdDiskBytes ? VirtualDiskFormat::kVhd
                                                                       : VirtualDiskFormat::kVhdx;
}

VirtualDiskFormat FormatOfFile(const std::wstring& path) {
  if (path.size() < kVhdxExtensionLength) return VirtualDiskFormat::kVhd;
  const size_t start = path.size() - kVhdxExtensionLength;
  for (size_t i = 0; i < kVhdxExtensionLength; ++i) {
    if (LowerAscii(path[start + i]) != kVhdxExtension[i]) return VirtualDiskFormat::kVhd;
  }
  return VirtualDiskFormat::kVhdx;
}

const wchar_t* FileExtensionOf(VirtualDiskFormat format) {
  return format == VirtualDiskFormat::kVhdx ? kVhdxExtension : L".vhd";
}

VIRTUAL_STORAGE_TYPE StorageTypeOf(VirtualDiskFormat format) {
  // {EC984AEC-A0F9-47E9-901F-71415A66345B}
  VIRTUAL_STORAGE_TYPE type{};
  type.DeviceId = format == VirtualDiskFormat::kVhdx ? VIRTUAL_STORAGE_TYPE_DEVICE_VHDX
                                                     : VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
  type.VendorId = GUID{0xEC984AEC, 0xA0F9, 0x47E9, {0x90, 0x1F, 0x71, 0x41, 0x5A, 0x66, 0x34, 0x5B}};
  return type;
}
