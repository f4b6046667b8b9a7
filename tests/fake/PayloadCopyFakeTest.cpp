// Where the payload copy puts each block, its progress line and its failures,
// with the disk and the image file in memory.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "BlockEntries.h"
#include "FakeSystem.h"
#include "ImageInternals.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "vdisk/PayloadCopy.h"

namespace {
HANDLE const kDiskHandle = reinterpret_cast<HANDLE>(0x8001);
HANDLE const kImageFile = reinterpret_cast<HANDLE>(0x8002);
constexpr uint32_t kBlock = 4096;
constexpr uint32_t kSector = 512;
constexpr uint64_t kDiskSectors = 64;  // a disk of eight blocks

class PayloadCopy : public FakeSystemTest {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    StoreDescription store;
    store.imagePath = L"/img/phone.ffu";
    store.sectorSize = kSector;
    store.minSectorCount = kDiskSectors;
    ImageInternals::Stores(image).push_back(store);
    ImageInternals::Bind(reader, image);
    ImageInternals::Header(reader).blockSize = kBlock;
    ImageInternals::File(image).Reset(kImageFile);
    Fake().readFile = [this](HANDLE file, LPVOID buffer, DWORD size, LPDWORD read) -> BOOL {
      EXPECT_EQ(file, kImageFile);
      uint32_t available = payloadBlocks > blocksRead ? kBlock : 0;
      if (shortLastBlock && blocksRead + 1 == payloadBlocks) available = kBlock / 2;
      std::memset(buffer, 0, size);
      if (available > 0) std::memset(buffer, static_cast<int>('A' + blocksRead), available);
      ++blocksRead;
      *read = available;
      return TRUE;
    };
    Fake().setFilePointer = [this](HANDLE file, LONGLONG offset) -> BOOL {
      EXPECT_EQ(file, kDiskHandle);
      position = offset;
      return TRUE;
    };
    // Blocks that follow each other on the disk go out in one write; each
    // block of it is recorded on its own.
    Fake().writeFile = [this](HANDLE file, LPCVOID buffer, DWORD size) -> BOOL {
      EXPECT_EQ(file, kDiskHandle);
      EXPECT_EQ(size % kBlock, 0u);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 4096, 0u);
      for (DWORD at = 0; at < size; at += kBlock)
        writes.emplace_back(position + at, static_cast<const char*>(buffer)[at]);
      ++writeCalls;
      return TRUE;
    };
    Fake().flushFile = [this](HANDLE file) -> BOOL {
      EXPECT_EQ(file, kDiskHandle);
      flushedAfter.push_back(writeCalls);
      return TRUE;
    };
  }

  void AddEntry(uint32_t blockCount, std::vector<TargetLocation> locations) {
    ImageInternals::Entries(reader).push_back(MakeEntry(blockCount, locations));
  }

  void TearDown() override {
    ImageInternals::File(image).Release();
    FakeSystemTest::TearDown();
  }

  int Copy() { return CopyPayload(reader, kDiskHandle, kDiskSectors, L"/t/kmd5.vhd"); }

  FfuImage image;
  StoreReader reader;
  uint32_t payloadBlocks = 1000;
  uint32_t blocksRead = 0;
  bool shortLastBlock = false;
  LONGLONG position = -1;
  std::vector<std::pair<LONGLONG, char>> writes;  // offset, first byte of the block
  int writeCalls = 0;
  std::vector<int> flushedAfter;  // per flush of the disk: the writes made before it
};

TEST_F(PayloadCopy, EveryBlockOfAnEntryLandsOneBlockFurtherForBothOrigins) {
  AddEntry(3, {{1, 0}});         // blocks 1, 2, 3 from the start
  AddEntry(2, {{1, 2}});         // the last-but-one and last block of the disk
  AddEntry(1, {{0, 2}, {5, 0}});  // two places: the disk's last block and block 5
  AddEntry(1, {{5, 0}});          // over the held block's second place
  ASSERT_EQ(Copy(), 0);
  // The last block, which holds the backup table's header, is held back, but
  // written before a later block goes over one of its places.
  std::vector<std::pair<LONGLONG, char>> expected = {
      {1 * kBlock, 'A'}, {2 * kBlock, 'B'}, {3 * kBlock, 'C'},
      {6 * kBlock, 'D'}, {7 * kBlock, 'E'},
      {7 * kBlock, 'F'}, {5 * kBlock, 'F'}, {5 * kBlock, 'G'}};
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(blocksRead, 7u);
  EXPECT_EQ(writeCalls, 6);
}

// The first and the last block hold the headers of the partition tables:
// they go to the disk last, after one write of the blocks between.
TEST_F(PayloadCopy, TableHeadersAreWrittenLast) {
  for (uint32_t i = 0; i < 8; ++i) AddEntry(1, {{i, 0}});
  ASSERT_EQ(Copy(), 0);
  std::vector<std::pair<LONGLONG, char>> expected;
  for (uint32_t i : {1, 2, 3, 4, 5, 6, 0, 7})
    expected.emplace_back(static_cast<LONGLONG>(i) * kBlock, static_cast<char>('A' + i));
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(writeCalls, 3);
}

TEST_F(PayloadCopy, EntriesWithoutLocationsOrBlocksConsumeExactlyTheirBlocks) {
  AddEntry(2, {});        // consumes A and B, writes nothing
  AddEntry(0, {{4, 0}});  // consumes nothing
  AddEntry(0, {{99, 0}});  // names a place off the disk, but writes nothing there
  AddEntry(1, {{4, 0}});  // gets C
  ASSERT_EQ(Copy(), 0);
  EXPECT_EQ(writes, (std::vector<std::pair<LONGLONG, char>>{{4 * kBlock, 'C'}}));
  EXPECT_EQ(blocksRead, 3u);
}

struct OffDiskCase {
  const char* name;
  uint32_t blockCount;
  TargetLocation location;
};

class OffDisk : public PayloadCopy, public ::testing::WithParamInterface<OffDiskCase> {};

TEST_P(OffDisk, IsRefusedBeforeAnythingIsWritten) {
  AddEntry(1, {{0, 0}});
  AddEntry(GetParam().blockCount, {GetParam().location});
  EXPECT_NE(CheckTable(reader, kDiskSectors), 0);
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(blocksRead, 0u);
  EXPECT_EQ(Output(), "(Korvex) !ERROR! Block data entry 1 places a block outside the disk.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OffDisk,
    ::testing::Values(OffDiskCase{"past_the_end", 1, {8, 0}},
                      OffDiskCase{"run_past_the_end", 3, {6, 0}},
                      OffDiskCase{"before_the_start", 1, {8, 2}},
                      OffDiskCase{"run_from_the_end_past_it", 2, {0, 2}},
                      OffDiskCase{"huge_index", 1, {0xFFFFFFFFu, 2}}),
    [](const ::testing::TestParamInfo<OffDiskCase>& info) { return std::string(info.param.name); });

TEST_F(PayloadCopy, APayloadThatEndsEarlyFailsTheCopy) {
  payloadBlocks = 2;
  shortLastBlock = true;
  AddEntry(1, {{0, 0}});
  AddEntry(1, {{1, 0}});
  EXPECT_NE(Copy(), 0);
  // The run that the short block would have ended is not written either.
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(Output(), "!ERROR! Reached the end of the file.\r\n\"/img/phone.ffu\"\n");
}

// The disk's file, not the image, is what is short of space.
TEST_F(PayloadCopy, AFailedWriteIsReportedWithTheDiskFile) {
  AddEntry(1, {{0, 0}});
  Fake().writeFile = [](HANDLE, LPCVOID, DWORD) -> BOOL {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  };
  EXPECT_EQ(Copy(), ERROR_DISK_FULL);
  EXPECT_EQ(Output(), "!ERROR! There is not enough space on the disk.\r\n\"/t/kmd5.vhd\"\n");
}

// Runs go to the disk on a thread of their own: after a failed write no later
// run is written, and the failure is told once.
TEST_F(PayloadCopy, NoRunIsWrittenAfterAFailedWrite) {
  for (uint32_t target : {0u, 2u, 4u, 6u, 1u, 3u}) AddEntry(1, {{target, 0}});
  Fake().writeFile = [this](HANDLE, LPCVOID, DWORD) -> BOOL {
    if (++writeCalls == 1) return TRUE;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  };
  EXPECT_EQ(Copy(), ERROR_DISK_FULL);
  EXPECT_EQ(writeCalls, 2);
  EXPECT_EQ(Output(), "!ERROR! There is not enough space on the disk.\r\n\"/t/kmd5.vhd\"\n");
}

// "ok" stands for a payload on the disk to stay: the disk is flushed once,
// after the last write, and a flush that fails fails the copy.
TEST_F(PayloadCopy, TheDiskIsFlushedAfterTheLastWriteBeforeOk) {
  for (uint32_t target : {0u, 2u, 4u}) AddEntry(1, {{target, 0}});
  ASSERT_EQ(Copy(), 0);
  EXPECT_EQ(flushedAfter, std::vector<int>{writeCalls});

  Fake().flushFile = [](HANDLE) -> BOOL {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  };
  EXPECT_EQ(Copy(), ERROR_WRITE_FAULT);
  const std::string failed =
      "!ERROR! The system cannot write to the specified device.\r\n\"/t/kmd5.vhd\"\n";
  const std::string printed = Output();
  ASSERT_GE(printed.size(), failed.size());
  EXPECT_EQ(printed.substr(printed.size() - failed.size()), failed);
}

struct ProgressCase {
  uint32_t entries;
  std::vector<std::wstring> expected;  // empty: only the count and the ends are checked
  size_t expectedWrites;
};

class Progress : public PayloadCopy, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(Progress, IsRewrittenOnlyWhenTheWholePercentChanges) {
  Fake().console = true;
  payloadBlocks = GetParam().entries;
  for (uint32_t i = 0; i < GetParam().entries; ++i) AddEntry(1, {{i % 8, 0}});
  ASSERT_EQ(Copy(), 0);
  const std::vector<std::wstring>& shown = Fake().consoleWrites;
  ASSERT_EQ(shown.size(), GetParam().expectedWrites);
  if (!GetParam().expected.empty()) {
    EXPECT_EQ(shown, GetParam().expected);
  }
  EXPECT_EQ(shown.front(), L"Creating virtual disk ... 0%\n");
  EXPECT_EQ(shown.back(), L"Creating virtual disk ... ok   \n");
  if (GetParam().entries >= 100) {
    EXPECT_EQ(shown[shown.size() - 2], L"Creating virtual disk ... 99%\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, Progress,
    ::testing::Values(
        ProgressCase{0, {L"Creating virtual disk ... 0%\n", L"Creating virtual disk ... ok   \n"}, 2},
        ProgressCase{1, {L"Creating virtual disk ... 0%\n", L"Creating virtual disk ... ok   \n"}, 2},
        ProgressCase{4,
                     {L"Creating virtual disk ... 0%\n", L"Creating virtual disk ... 25%\n",
                      L"Creating virtual disk ... 50%\n", L"Creating virtual disk ... 75%\n",
                      L"Creating virtual disk ... ok   \n"},
                     5},
        ProgressCase{250, {}, 101}, ProgressCase{1000, {}, 101}));

struct CheckedCopyCase {
  const char* name;
  std::vector<uint32_t> damagedBlocks;
};
void PrintTo(const CheckedCopyCase& c, std::ostream* out) { *out << c.name; }

class CheckedCopy : public PayloadCopy, public ::testing::WithParamInterface<CheckedCopyCase> {};

// One chunk per block. The table holds the hash of each block as the fake
// file gives it, but of other bytes for the blocks named damaged.
TEST_P(CheckedCopy, EveryBlockReadReachesTheCheckInFileOrder) {
  AddEntry(2, {});                // blocks 0 and 1: read, written nowhere
  AddEntry(1, {{0, 2}, {5, 0}});  // block 2: two places
  AddEntry(3, {{1, 0}});          // blocks 3 to 5: one run
  payloadBlocks = 6;
  std::vector<uint8_t> table;
  for (uint32_t n = 0; n < payloadBlocks; ++n) {
    bool damaged = std::find(GetParam().damagedBlocks.begin(), GetParam().damagedBlocks.end(), n) !=
                   GetParam().damagedBlocks.end();
    std::vector<uint8_t> block(kBlock, static_cast<uint8_t>((damaged ? 'a' : 'A') + n));
    uint8_t digest[32];
    unsigned int length = 0;
    EVP_Digest(block.data(), block.size(), digest, &length, EVP_sha256(), nullptr);
    table.insert(table.end(), digest, digest + 32);
  }
  ImageInternals::FileSize(image) = payloadBlocks * kBlock;
  ImageInternals::PayloadOffset(reader) = 0;
  ASSERT_EQ(image.ChunkCheck().Start(0x800C, kBlock / 1024, table, 0, image.FileSize()),
            ChunkVerifier::kChecking);
  ASSERT_EQ(Copy(), 0);
  image.ChunkCheck().Finish();
  EXPECT_TRUE(image.ChunkCheck().Checking()) << "a block went to the check out of order";
  EXPECT_EQ(image.ChunkCheck().FirstDamaged(), GetParam().damagedBlocks);
  EXPECT_EQ(writes.size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckedCopy,
                         ::testing::Values(CheckedCopyCase{"intact", {}},
                                           CheckedCopyCase{"one of each kind of entry", {1, 2, 4}}));

TEST(BlockTargets, AreComputedWithoutOverflow) {
  struct Case {
    TargetLocation location;
    uint32_t k;
    uint64_t diskSectors;
    bool fits;
    uint64_t offset;
  } cases[] = {
      {{0, 2}, 0, 20971520, true, 20971520ull * 512 - 131072},
      {{1, 2}, 1, 20971520, true, 20971520ull * 512 - 131072},
      {{0xFFFFFFFFu, 0}, 0, 0xFFFFFFFFull * 256 + 256, true, 0xFFFFFFFFull * 131072},
      {{0xFFFFFFFFu, 0}, 1, 0xFFFFFFFFull * 256 + 256, false, 0},
      {{7634943u / 256, 0}, 0, 7634944, true, (7634943u / 256) * 131072ull},
  };
  for (const Case& c : cases) {
    uint64_t offset = 0;
    EXPECT_EQ(BlockTargetOffset(c.location, c.k, 131072, 512, c.diskSectors, offset), c.fits);
    if (c.fits) {
      EXPECT_EQ(offset, c.offset);
    }
  }
  uint64_t offset = 0;
  EXPECT_FALSE(BlockTargetOffset({0, 0}, 0, 256, 512, 100, offset));  // block below sector
  EXPECT_FALSE(BlockTargetOffset({0, 0}, 0, 4096, 0, 100, offset));   // no sector size
}
}  // namespace
