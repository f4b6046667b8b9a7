// Which file format a disk gets, and which format a backing file is opened as.
#include <gtest/gtest.h>

#include <string>

#include "StdoutCapture.h"
#include "common/VirtualStorage.h"
#include "ffu/StoreDescription.h"
#include "ffu/DiskGeometry.h"

namespace {

TEST(VirtualStorage, SectorSizePicksTheFormat) {
  struct Case {
    uint32_t sectorSize;
    VirtualDiskFormat format;
    const wchar_t* extension;
    ULONG deviceId;
  } cases[] = {{512, VirtualDiskFormat::kVhd, L".vhd", VIRTUAL_STORAGE_TYPE_DEVICE_VHD},
               {4096, VirtualDiskFormat::kVhdx, L".vhdx", VIRTUAL_STORAGE_TYPE_DEVICE_VHDX}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sectorSize);
    EXPECT_EQ(FormatForSectorSize(c.sectorSize), c.format);
    EXPECT_STREQ(FileExtensionOf(c.format), c.extension);
    EXPECT_EQ(StorageTypeOf(c.format).DeviceId, c.deviceId);
  }
}

// What the service can make is known from the image before the sweep: a
// 512-byte disk past the VHD's 2040 GiB goes to a VHDX; other sector sizes
// and disks under 3 MB are refused with a line.
TEST(VirtualStorage, DiskLimitsAreKnownFromTheImage) {
  struct Case {
    uint32_t sectorSize, sectorCount;
    VirtualDiskFormat format;
    bool made;
  } cases[] = {{512, 6144, VirtualDiskFormat::kVhd, true},
               {512, 6143, VirtualDiskFormat::kVhd, false},
               {512, 0xFF000000u, VirtualDiskFormat::kVhd, true},   // exactly 2040 GiB
               {512, 0xFF000001u, VirtualDiskFormat::kVhdx, true},  // one sector more
               {4096, 768, VirtualDiskFormat::kVhdx, true},
               {1024, 0, VirtualDiskFormat::kVhdx, false},
               {0, 0, VirtualDiskFormat::kVhdx, false}};
  for (const Case& c : cases) {
    StoreDescription store;
    store.sectorSize = c.sectorSize;
    store.minSectorCount = c.sectorCount;
    SCOPED_TRACE(c.sectorCount);
    EXPECT_EQ(FormatForSectorSize(c.sectorSize, DiskSectorCount(store) * c.sectorSize), c.format);
    StdoutCapture capture;
    EXPECT_EQ(CheckDiskLimits(store) == 0, c.made);
    EXPECT_EQ(capture.Finish().empty(), c.made);
  }
}

TEST(VirtualStorage, BackingFileFormatComesFromItsExtension) {
  struct Case {
    std::wstring path;
    VirtualDiskFormat format;
  } cases[] = {
      {L"C:\\Tmp\\kmd1A2B.vhdx", VirtualDiskFormat::kVhdx},
      {L"/tmp/brackwen-0/KMD1.VHDX", VirtualDiskFormat::kVhdx},
      {L"/tmp/kmd1.VhdX", VirtualDiskFormat::kVhdx},
      {L"C:\\Tmp\\kmd1A2B.vhd", VirtualDiskFormat::kVhd},
      {L"/tmp/disk.vhdx.bak", VirtualDiskFormat::kVhd},
      {L"/tmp/in.vhdx/kmd1.vhd", VirtualDiskFormat::kVhd},
      {L"/tmp/attached-by-hand.img", VirtualDiskFormat::kVhd},
      {L"vhdx", VirtualDiskFormat::kVhd},
      {L"", VirtualDiskFormat::kVhd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path));
    EXPECT_EQ(FormatOfFile(c.path), c.format);
  }
}

}  // namespace
