// Fixed VHD files (support/formats/vhd.cpp): made by CreateVirtualDisk, checked on
// disk and by the common VHD tools; the footer's geometry, field layout,
// checksum and decoding.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>
#include <ctime>
#include <string>

#include "LoopTestScratch.h"
#include "VirtualDisks.h"
#include "linux/support/formats/vhd.h"
#include "win32.h"

namespace {

using loop_test::LoopScratch;

class VhdFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.Ready()); }
  LoopScratch scratch;
};

TEST_F(VhdFileTest, IsASparseDiskFollowedByTheFooter) {
  const uint64_t size = 256ull << 20;
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), size, 512, &handle), 0u);
  CloseHandle(handle);
  struct stat status;
  ASSERT_EQ(stat(scratch.Path("disk.vhd").c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size), size + kVhdFooterSize);
  EXPECT_LT(static_cast<uint64_t>(status.st_blocks) * 512, 1ull << 20) << "not sparse";
  uint64_t diskSize = 0;
  uint32_t sectorSize = 0;
  ASSERT_EQ(VhdOpenFile(scratch.Path("disk.vhd"), &diskSize, &sectorSize), 0u);
  EXPECT_EQ(diskSize, size);
  EXPECT_EQ(sectorSize, 512u);
}

TEST_F(VhdFileTest, KeepsTheSectorSizeOutsideTheFooter) {
  ASSERT_EQ(VhdCreateFile(scratch.Path("big.vhd"), 64ull << 20, 4096), 0u);
  char text[16] = {};
  ASSERT_GT(getxattr(scratch.Path("big.vhd").c_str(), "user.brackwen.sector_size", text,
                     sizeof(text) - 1), 0);
  EXPECT_STREQ(text, "4096");
  uint64_t diskSize = 0;
  uint32_t sectorSize = 0;
  ASSERT_EQ(VhdOpenFile(scratch.Path("big.vhd"), &diskSize, &sectorSize), 0u);
  EXPECT_EQ(sectorSize, 4096u);
}

TEST_F(VhdFileTest, AnExistingFileIsNotReplaced) {
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), 4ull << 20, 512, &handle), 0u);
  CloseHandle(handle);
  EXPECT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), 8ull << 20, 512, &handle),
            static_cast<DWORD>(ERROR_FILE_EXISTS));
  struct stat status;
  ASSERT_EQ(stat(scratch.Path("disk.vhd").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, (4 << 20) + 512);
}

struct BadSize {
  uint64_t size;
  ULONG sectorSize;
};

class VhdBadSizeTest : public VhdFileTest, public ::testing::WithParamInterface<BadSize> {};

TEST_P(VhdBadSizeTest, IsRefusedWithoutAFile) {
  HANDLE handle;
  EXPECT_EQ(CreateVhd(scratch.WidePath("bad.vhd"), GetParam().size, GetParam().sectorSize,
                      &handle),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  struct stat status;
  EXPECT_NE(stat(scratch.Path("bad.vhd").c_str(), &status), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, VhdBadSizeTest,
                         ::testing::Values(BadSize{0, 512}, BadSize{1000, 512},
                                           BadSize{(1 << 20) + 512, 4096},
                                           BadSize{1 << 20, 1024},
                                           // A VHD has 512-byte sectors, as on Windows.
                                           BadSize{1 << 20, 4096}));

TEST_F(VhdFileTest, OpeningAMissingFileFailsWithFileNotFound) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  EXPECT_EQ(OpenDisk(VIRTUAL_STORAGE_TYPE_DEVICE_VHD, scratch.WidePath("none.vhd"),
                     VIRTUAL_DISK_ACCESS_DETACH, &handle),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
}

// A fixed disk has nothing at its start to probe, so the format is named.
// qemu sizes a disk of an unknown creator by its CHS geometry: the first size
// is one that the geometry covers exactly (960 cylinders, 8 heads, 17
// sectors); the second check asks for the footer's size instead.
TEST_F(VhdFileTest, QemuImgReadsItAsAVhdOfItsSize) {
  const uint64_t exact = 960ull * 8 * 17 * 512;
  const uint64_t any = 64ull << 20;
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("exact.vhd"), exact, 512, &handle), 0u);
  CloseHandle(handle);
  ASSERT_EQ(CreateVhd(scratch.WidePath("any.vhd"), any, 512, &handle), 0u);
  CloseHandle(handle);
  const std::string plain =
      CommandOutput("qemu-img info -f vpc --output=json '" + scratch.Path("exact.vhd") + "'");
  EXPECT_NE(plain.find("\"format\": \"vpc\""), std::string::npos) << plain;
  EXPECT_NE(plain.find("\"virtual-size\": " + std::to_string(exact) + ","), std::string::npos)
      << plain;
  const std::string footerSized = CommandOutput(
      "qemu-img info --output=json --image-opts "
      "driver=vpc,force_size_calc=current_size,file.filename='" +
      scratch.Path("any.vhd") + "'");
  EXPECT_NE(footerSized.find("\"virtual-size\": " + std::to_string(any) + ","), std::string::npos)
      << footerSized;
}

TEST_F(VhdFileTest, VhdiinfoReadsItAsAFixedDiskOfItsSize) {
  const uint64_t size = 100ull << 20;
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), size, 512, &handle), 0u);
  CloseHandle(handle);
  const std::string output = CommandOutput("vhdiinfo '" + scratch.Path("disk.vhd") + "'");
  EXPECT_NE(output.find("Fixed"), std::string::npos) << output;
  EXPECT_NE(output.find(std::to_string(size) + " bytes"), std::string::npos) << output;
}

}  // namespace

// ---- The footer ---------------------------------------------------------------

namespace {

// The footer's bytes as a record in host order.
VhdFooterRecord HostOrder(const uint8_t* bytes) {
  VhdFooterRecord record;
  memcpy(&record, bytes, sizeof(record));
  VhdFooterByteOrder(&record);
  return record;
}

struct GeometryCase {
  uint64_t size;
  uint16_t cylinders;
  uint8_t heads;
  uint8_t sectorsPerTrack;
};

class VhdGeometryTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(VhdGeometryTest, FollowsTheFormatAlgorithm) {
  const GeometryCase& expected = GetParam();
  const VhdGeometry geometry = VhdGeometryForSize(expected.size);
  EXPECT_EQ(geometry.cylinders, expected.cylinders);
  EXPECT_EQ(geometry.heads, expected.heads);
  EXPECT_EQ(geometry.sectorsPerTrack, expected.sectorsPerTrack);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, VhdGeometryTest,
    ::testing::Values(GeometryCase{1ull << 20, 30, 4, 17},            // heads raised to 4
                      GeometryCase{64ull << 20, 963, 8, 17},          // 17 sectors fit
                      GeometryCase{3909091328ull, 7574, 16, 63},      // needs 63 sectors
                      GeometryCase{10ull << 30, 20805, 16, 63},       // the default disk
                      GeometryCase{65535ull * 16 * 63 * 512, 16191, 16, 255},  // 255 sectors
                      GeometryCase{1ull << 40, 65535, 16, 255}));     // clamped to the maximum

TEST(VhdFooterTest, EncodesTheFixedDiskFields) {
  const uint64_t size = 3909091328ull;
  uint8_t bytes[kVhdFooterSize];
  VhdFooter::ForNewDisk(size).Encode(bytes);
  const VhdFooterRecord footer = HostOrder(bytes);
  EXPECT_EQ(0, memcmp(footer.cookie, "conectix", 8));
  EXPECT_EQ(footer.features, 2u);
  EXPECT_EQ(footer.formatVersion, 0x00010000u);
  EXPECT_EQ(footer.dataOffset, 0xFFFFFFFFFFFFFFFFull);  // no dynamic header
  EXPECT_EQ(0, memcmp(footer.creatorApplication, "brkw", 4));
  EXPECT_EQ(footer.originalSize, size);
  EXPECT_EQ(footer.currentSize, size);
  const VhdGeometry geometry = VhdGeometryForSize(size);
  EXPECT_EQ(footer.cylinders, geometry.cylinders);
  EXPECT_EQ(footer.heads, geometry.heads);
  EXPECT_EQ(footer.sectorsPerTrack, geometry.sectorsPerTrack);
  EXPECT_EQ(footer.diskType, 2u);   // fixed disk
  EXPECT_EQ(footer.savedState, 0);  // no saved state
  for (size_t i = 0; i < sizeof(footer.reserved); ++i) {
    ASSERT_EQ(footer.reserved[i], 0) << "reserved byte " << i;
  }
}

TEST(VhdFooterTest, ChecksumIsTheComplementOfTheByteSum) {
  uint8_t bytes[kVhdFooterSize];
  VhdFooter::ForNewDisk(64ull << 20).Encode(bytes);
  const size_t checksumAt = offsetof(VhdFooterRecord, checksum);
  uint32_t sum = 0;
  for (size_t i = 0; i < kVhdFooterSize; ++i) {
    if (i < checksumAt || i >= checksumAt + 4) sum += bytes[i];
  }
  EXPECT_EQ(HostOrder(bytes).checksum, static_cast<uint32_t>(~sum));
}

TEST(VhdFooterTest, TimestampCountsFrom2000) {
  const time_t before = time(nullptr);
  const VhdFooter footer = VhdFooter::ForNewDisk(1ull << 20);
  const time_t after = time(nullptr);
  const time_t year2000 = 946684800;  // 2000-01-01 00:00:00 UTC
  EXPECT_GE(static_cast<time_t>(footer.timestamp), before - year2000);
  EXPECT_LE(static_cast<time_t>(footer.timestamp), after - year2000);
}

TEST(VhdFooterTest, EveryDiskGetsItsOwnUniqueId) {
  const VhdFooter first = VhdFooter::ForNewDisk(1ull << 20);
  const VhdFooter second = VhdFooter::ForNewDisk(1ull << 20);
  EXPECT_NE(0, memcmp(first.uniqueId, second.uniqueId, sizeof(first.uniqueId)));
}

TEST(VhdFooterTest, DecodesWhatItEncodes) {
  const VhdFooter written = VhdFooter::ForNewDisk(10ull << 30);
  uint8_t bytes[kVhdFooterSize];
  written.Encode(bytes);
  VhdFooter read;
  ASSERT_EQ(read.Decode(bytes), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(read.currentSize, written.currentSize);
  EXPECT_EQ(read.originalSize, written.originalSize);
  EXPECT_EQ(read.timestamp, written.timestamp);
  EXPECT_EQ(0, memcmp(read.uniqueId, written.uniqueId, 16));
  EXPECT_EQ(read.geometry.cylinders, written.geometry.cylinders);
}

struct Corruption {
  const char* what;
  size_t offset;
  uint8_t flip;  // bits to invert
  bool fixChecksum;
};

class VhdFooterCorruptionTest : public ::testing::TestWithParam<Corruption> {};

TEST_P(VhdFooterCorruptionTest, IsRejected) {
  uint8_t bytes[kVhdFooterSize];
  VhdFooter::ForNewDisk(64ull << 20).Encode(bytes);
  bytes[GetParam().offset] ^= GetParam().flip;
  if (GetParam().fixChecksum) {
    const uint32_t checksum = VhdChecksum(bytes);
    const uint32_t stored = __builtin_bswap32(checksum);
    memcpy(bytes + offsetof(VhdFooterRecord, checksum), &stored, sizeof(stored));
  }
  VhdFooter footer;
  EXPECT_EQ(footer.Decode(bytes), static_cast<DWORD>(ERROR_VIRTDISK_NOT_VIRTUAL_DISK))
      << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, VhdFooterCorruptionTest,
    ::testing::Values(Corruption{"cookie", 0, 0x20, true},
                      Corruption{"size byte, stale checksum", 47, 0x55, false},
                      Corruption{"dynamic disk type", 63, 0x01, true},
                      Corruption{"checksum", 67, 0x80, false}));

}  // namespace
