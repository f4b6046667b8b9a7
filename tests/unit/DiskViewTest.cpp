// A store's disk read straight from the file through its block table.
#include <gtest/gtest.h>

#include <vector>

#include "FfuFileHelpers.h"
#include "ImageInternals.h"
#include "TempFolder.h"
#include "ffu/DiskView.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"

namespace {
constexpr uint32_t kBlock = 4096;
constexpr uint64_t kPayload = 3 * kBlock;  // where the payload starts in the file

// A disk of 8 blocks: block 1 written twice (the later entry, 0x22, wins),
// blocks 3 and 4 by one entry of two blocks (0x44, 0x55), the last block
// counted from the end (0x33); the rest is zeros.
struct ViewFixture {
  TempFolder folder;
  FfuImage image;
  StoreReader reader;

  ViewFixture() {
    std::vector<uint8_t> bytes(kPayload, 0xEE);
    for (uint8_t fill : {0x11, 0x22, 0x33, 0x44, 0x55}) bytes.insert(bytes.end(), kBlock, fill);
    std::wstring path = folder.Write("view.ffu", bytes);
    ImageInternals::File(image).Reset(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    StoreDescription store;
    store.sectorSize = 512;
    store.minSectorCount = 8 * kBlock / 512;
    ImageInternals::Stores(image).push_back(store);
    ImageInternals::Bind(reader, image);
    ImageInternals::Header(reader).blockSize = kBlock;
    ImageInternals::PayloadOffset(reader) = kPayload;
    auto add = [&](uint32_t blocks, uint32_t origin, uint32_t index) {
      BlockDataEntry entry;
      entry.blockCount = blocks;
      entry.locations.assign(1, TargetLocation{index, origin});
      ImageInternals::Entries(reader).push_back(entry);
    };
    add(1, 0, 1);
    add(1, 0, 1);
    add(1, 2, 0);
    add(2, 0, 3);
  }
};

TEST(DiskView, LaterEntriesWinUnwrittenBytesAreZeroRangesStayOnTheDisk) {
  ViewFixture fixture;
  ASSERT_TRUE(fixture.image.File() != INVALID_HANDLE_VALUE);
  DiskView view(fixture.image, fixture.reader);
  ASSERT_EQ(view.DiskBytes(), 8u * kBlock);
  std::vector<uint8_t> disk(8 * kBlock, 0xAB);
  ASSERT_EQ(view.Read(0, disk.data(), disk.size()), 0u);
  const uint8_t expected[8] = {0, 0x22, 0, 0x44, 0x55, 0, 0, 0x33};
  for (uint32_t block = 0; block < 8; ++block)
    for (uint32_t at : {0u, kBlock - 1})
      ASSERT_EQ(disk[block * kBlock + at], expected[block]) << "block " << block;
  ASSERT_EQ(view.Read(2 * kBlock - 100, disk.data(), 200), 0u);
  EXPECT_EQ(disk[99], 0x22);
  EXPECT_EQ(disk[100], 0);
  EXPECT_EQ(view.Read(8 * kBlock - 100, disk.data(), 200), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
}  // namespace
