// What the lines about damaged chunks say a chunk holds: the headers and
// paddings by name, and the disk ranges its payload went to with the
// partitions there, for a store laid out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BlockEntries.h"
#include "ImageInternals.h"
#include "ffu/DamageReport.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreReader.h"
#include "formats/GptRecords.h"
#include "vdisk/CopyCheck.h"
#include "volumes/DriveLayout.h"

namespace {

constexpr uint64_t kImageStart = 4096;
constexpr uint32_t kChunk = 4096;
constexpr uint32_t kBlock = 1024;
constexpr uint64_t kDiskSectors = 64;  // 32 KiB of 512-byte sectors
// The file: image header and a 100-byte manifest at 4096, the store header
// at 8192, a 16-byte validation area, then the entries; the payload starts
// at 12288 and ends where the file does, but for 10 bytes after it.
constexpr uint64_t kStoreOffset = 8192;
constexpr uint64_t kValidation = kStoreOffset + 248;
constexpr uint64_t kEntries = kValidation + 16;
constexpr uint64_t kPayload = 12288;

class Describe : public testing::Test {
 protected:
  void SetUp() override {
    StoreDescription store;
    store.storeOffset = kStoreOffset;
    store.sectorSize = 512;
    ImageInternals::Stores(image).push_back(store);
    ImageInternals::Header(image).manifestLength = 100;
    ImageInternals::Bind(reader, image);
    ImageInternals::Header(reader).blockSize = kBlock;
    ImageInternals::ValidationOffset(reader) = kValidation;
    ImageInternals::EntriesOffset(reader) = kEntries;
    ImageInternals::PayloadOffset(reader) = kPayload;
  }

  void AddEntry(uint32_t blockCount, std::vector<TargetLocation> locations) {
    ImageInternals::Entries(reader).push_back(MakeEntry(blockCount, locations));
    payloadBlocks += blockCount;
  }

  // Lays out the file once the entries are known and starts the check.
  std::wstring Holds(uint32_t chunk, std::vector<PartitionSpan> partitions = {},
                     bool partitionsKnown = true) {
    ImageInternals::EntriesEnd(reader) = kEntries + 16 * reader.Entries().size();
    ImageInternals::FileSize(image) = kPayload + payloadBlocks * kBlock + 10;
    uint64_t chunks = ChunkVerifier::CountChunks(image.FileSize() - kImageStart, kChunk);
    table.assign(chunks * 32, 0);
    EXPECT_EQ(image.ChunkCheck().Start(0x800C, kChunk / 1024, table, kImageStart, image.FileSize()),
              ChunkVerifier::kChecking);
    return DamageReport(image, reader, kDiskSectors, partitions, partitionsKnown).Describe(chunk);
  }

  FfuImage image;
  StoreReader reader;
  uint64_t payloadBlocks = 0;
  std::vector<uint8_t> table;
};

const std::vector<PartitionSpan> kTwoPartitions = {{4096, 8192, L"EFIESP"}, {12288, 16384, L"MainOS"}};

TEST_F(Describe, HeaderChunksNameWhatTheyHold) {
  AddEntry(1, {{0, 0}});
  EXPECT_EQ(Holds(0), L"the image header, the manifest and padding");
  EXPECT_EQ(Holds(1), L"the store header, the validation area, the block data entries and padding");
}

TEST_F(Describe, PayloadOfBlocksThatFollowOnTheDiskIsOneRange) {
  for (uint32_t i = 0; i < 4; ++i) AddEntry(1, {{12 + i, 0}});  // disk bytes 12288 to 16383
  EXPECT_EQ(Holds(2, kTwoPartitions), L"payload for disk bytes 12288 to 16383 in 'MainOS'");
}

TEST_F(Describe, AnEntryOfSeveralBlocksAdvancesOnTheDisk) {
  AddEntry(4, {{2, 0}});  // disk bytes 2048 to 6143: before and inside EFIESP
  EXPECT_EQ(Holds(2, kTwoPartitions), L"payload for disk bytes 2048 to 6143 in 'EFIESP'");
}

TEST_F(Describe, ScatteredBlocksAreRangesOfTheirOwn) {
  AddEntry(1, {{0, 0}});
  AddEntry(1, {{0, 2}});  // the disk's last block
  AddEntry(1, {{4, 0}, {20, 0}});  // two places
  AddEntry(1, {});  // read, written nowhere
  EXPECT_EQ(Holds(2, kTwoPartitions),
            L"payload for disk bytes 0 to 1023 outside every partition, 31744 to 32767 outside "
            L"every partition, 4096 to 5119 in 'EFIESP' and 1 more range");
}

TEST_F(Describe, ARangeAcrossTwoPartitionsNamesBoth) {
  for (uint32_t i = 0; i < 4; ++i) AddEntry(1, {{10 + i, 0}});  // 10240 to 14335
  EXPECT_EQ(Holds(2, kTwoPartitions), L"payload for disk bytes 10240 to 14335 in 'EFIESP' and 'MainOS'");
  EXPECT_EQ(Holds(2, {}, false), L"payload for disk bytes 10240 to 14335");
}

TEST_F(Describe, ARangePastThePartitionsEndNamesTheBackupTable) {
  for (uint32_t i = 0; i < 4; ++i) AddEntry(1, {{26 + i, 0}});  // 26624 to 30719
  EXPECT_EQ(Holds(2, {kTwoPartitions[1], {28672, 4096, L"the backup partition table", true}}),
            L"payload for disk bytes 26624 to 30719 in 'MainOS' and the backup partition table");
}

TEST_F(Describe, BlocksWrittenNowhereAreSaidToBe) {
  AddEntry(4, {});
  EXPECT_EQ(Holds(2), L"payload that is written nowhere on the disk");
}

TEST_F(Describe, TheLastChunkHoldsTheBytesAfterThePayload) {
  for (uint32_t i = 0; i < 6; ++i) AddEntry(1, {{i, 0}});  // payload to 18432
  EXPECT_EQ(Holds(3, kTwoPartitions),
            L"payload for disk bytes 4096 to 6143 in 'EFIESP' and bytes after the payload");
}

// The mount names partitions from the attached disk's layout, --check from
// the table in the file: for the same disk, the same words.
TEST_F(Describe, TheMountAndTheCheckNameAChunkAlike) {
  for (uint32_t i = 0; i < 4; ++i) AddEntry(1, {{26 + i, 0}});  // 26624 to 30719
  struct Part {
    const wchar_t* name;
    uint64_t first, last;  // sectors
  };
  const Part parts[] = {{L"EFIESP", 8, 23}, {L"MainOS", 24, 55}};
  DriveLayout layout;
  layout.buffer.assign(48 + 144 * 2, 0);
  auto* header = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(layout.buffer.data());
  header->PartitionStyle = PARTITION_STYLE_GPT;
  header->PartitionCount = 2;
  header->Gpt.StartingUsableOffset.QuadPart = 8 * 512;
  header->Gpt.UsableLength.QuadPart = 48 * 512;
  std::vector<ImagePartition> table;
  for (size_t i = 0; i < 2; ++i) {
    auto* entry = reinterpret_cast<PARTITION_INFORMATION_EX*>(layout.buffer.data() + 48 + 144 * i);
    entry->PartitionStyle = PARTITION_STYLE_GPT;
    entry->StartingOffset.QuadPart = static_cast<LONGLONG>(parts[i].first * 512);
    entry->PartitionLength.QuadPart = static_cast<LONGLONG>((parts[i].last - parts[i].first + 1) * 512);
    for (size_t u = 0; parts[i].name[u] != L'\0'; ++u) entry->Gpt.Name[u] = parts[i].name[u];
    ImagePartition partition;
    partition.name = parts[i].name;
    partition.type = kGptBasicDataType;
    partition.firstSector = parts[i].first;
    partition.lastSector = parts[i].last;
    table.push_back(partition);
  }
  const std::wstring mount = Holds(2, PartitionSpans(layout));
  EXPECT_EQ(mount, L"payload for disk bytes 26624 to 30719 in 'MainOS' and the backup partition table");
  EXPECT_EQ(Holds(2, TableSpans(table, UsableSectors{8, 48}, 512)), mount);
}

}  // namespace
