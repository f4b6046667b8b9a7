// The fixed VHD footer: geometry, field layout, checksum and decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "linux/support/formats/vhd.h"

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
