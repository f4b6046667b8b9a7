// The GPT records and type constants against a table that sgdisk wrote.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "LoopTestScratch.h"
#include "formats/GptRecords.h"

namespace {

using loop_test::LoopScratch;

template <typename Record>
Record ReadRecord(const std::string& path, uint64_t offset) {
  Record record = {};
  std::ifstream disk(path, std::ios::binary);
  disk.seekg(static_cast<std::streamoff>(offset));
  disk.read(reinterpret_cast<char*>(&record), sizeof(record));
  return record;
}

TEST(GptRecordsTest, ReadTheTableSgdiskWrites) {
  LoopScratch scratch;
  ASSERT_TRUE(scratch.Ready());
  const std::string path = scratch.Path("disk.img");
  ASSERT_EQ(RunCommand("truncate -s 8M '" + path + "'"), 0);
  ASSERT_EQ(RunCommand("sgdisk -o -n 1:2048:+1M -t 1:EF00 -n 2:0:+1M -t 2:0C01 -n 3:0:+1M "
                       "-t 3:0700 -c 3:MainOS -A 3:set:62 -n 4:0:+1M -t 4:2700 '" +
                       path + "'"),
            0);
  const GptHeader header = ReadRecord<GptHeader>(path, 512);
  ASSERT_TRUE(HasGptSignature(header));
  EXPECT_EQ(header.headerSize, sizeof(GptHeader));
  EXPECT_EQ(header.backupSector, 8u * 2048 - 1);
  EXPECT_EQ(header.firstUsableSector, 34u);
  EXPECT_EQ(header.entryCount, 128u);
  ASSERT_EQ(header.entrySize, sizeof(GptEntry));
  const DiskGuid types[] = {kGptEfiSystemType, kGptReservedType, kGptBasicDataType,
                            kGptRecoveryType};
  for (uint32_t i = 0; i < 5; ++i) {
    const GptEntry entry = ReadRecord<GptEntry>(path, header.entriesSector * 512 + i * 128);
    if (i == 4) {
      EXPECT_TRUE(IsUnusedGptEntry(entry));
      continue;
    }
    EXPECT_TRUE(SameDiskGuid(entry.typeId, types[i])) << "partition " << i + 1;
    EXPECT_EQ(entry.firstSector, 2048u * (i + 1));
    EXPECT_EQ(entry.attributes, i == 2 ? kGptAttributeHidden : 0) << "partition " << i + 1;
  }
  const GptEntry mainOs = ReadRecord<GptEntry>(path, header.entriesSector * 512 + 2 * 128);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(mainOs.name)), u"MainOS");
}

}  // namespace
