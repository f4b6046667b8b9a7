// Which file format a disk gets, and which format a backing file is opened as.
#include <gtest/gtest.h>

#include <string>

#include "common/VirtualStorage.h"

namespace {

TEST(VirtualStorage, SectorSizePicksTheFormat) {
  struct Case {
    uint32_t sectorSize;
    VirtualDiskFormat format;
    const wchar_t* extension;
    ULONG deviceId;
  } cases[] = {{512, VirtualDiskFormat::Vhd, L".vhd", VIRTUAL_STORAGE_TYPE_DEVICE_VHD},
               {4096, VirtualDiskFormat::Vhdx, L".vhdx", VIRTUAL_STORAGE_TYPE_DEVICE_VHDX}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sectorSize);
    EXPECT_EQ(FormatForSectorSize(c.sectorSize), c.format);
    EXPECT_STREQ(FileExtensionOf(c.format), c.extension);
    EXPECT_EQ(StorageTypeOf(c.format).DeviceId, c.deviceId);
  }
}

TEST(VirtualStorage, BackingFileFormatComesFromItsExtension) {
  struct Case {
    std::wstring path;
    VirtualDiskFormat format;
  } cases[] = {
      {L"C:\\Tmp\\kmd1A2B.vhdx", VirtualDiskFormat::Vhdx},
      {L"/tmp/brackwen-0/KMD1.VHDX", VirtualDiskFormat::Vhdx},
      {L"/tmp/kmd1.VhdX", VirtualDiskFormat::Vhdx},
      {L"C:\\Tmp\\kmd1A2B.vhd", VirtualDiskFormat::Vhd},
      {L"/tmp/disk.vhdx.bak", VirtualDiskFormat::Vhd},
      {L"/tmp/in.vhdx/kmd1.vhd", VirtualDiskFormat::Vhd},
      {L"/tmp/attached-by-hand.img", VirtualDiskFormat::Vhd},
      {L"vhdx", VirtualDiskFormat::Vhd},
      {L"", VirtualDiskFormat::Vhd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path));
    EXPECT_EQ(FormatOfFile(c.path), c.format);
  }
}

}  // namespace
