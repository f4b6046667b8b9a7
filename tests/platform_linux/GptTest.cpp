// Partition tables read with libblkid and written into the Win32 layout record
// (support/formats/gpt.cpp).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "LoopTestScratch.h"
#include "linux/support/formats/gpt.h"
#include "win32.h"

namespace {

using loop_test::LoopScratch;

const char kImageDiskId[] = "AE420040-13DD-41F2-AE7F-0DC35854C8D7";
const char kEfiespId[] = "0C1B2A39-4857-4665-8473-829100AABBCC";
const char kMainOsId[] = "12345678-9ABC-4DEF-8123-456789ABCDEF";

std::u16string NameOf(const uint16_t name[36]) {
  std::u16string text;
  for (int i = 0; i < 36 && name[i] != 0; ++i) text += static_cast<char16_t>(name[i]);
  return text;
}

class GptLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.Ready()); }

  // A 64 MiB disk image: EFIESP at sector 2048 (8 MiB), MainOS after it.
  void MakeImage(const std::string& name) {
    const std::string path = scratch.Path(name);
    ASSERT_EQ(RunCommand("truncate -s 64M '" + path + "'"), 0);
    ASSERT_EQ(RunCommand(std::string("sgdisk -o -U ") + kImageDiskId +
                         " -n 1:2048:+8M -c 1:EFIESP -t 1:EF00 -u 1:" + kEfiespId +
                         " -n 2:0:0 -c 2:MainOS -t 2:0700 -u 2:" + kMainOsId + " '" + path + "'"),
              0);
  }

  DWORD Read(const std::string& name, DiskLayout* layout) {
    const int fd = open(scratch.Path(name).c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    const DWORD code = ReadDiskLayout(fd, layout);
    close(fd);
    return code;
  }

  LoopScratch scratch;
};

TEST_F(GptLayoutTest, ReadsNamesIdsAndPlaces) {
  MakeImage("disk.img");
  DiskLayout layout;
  ASSERT_EQ(Read("disk.img", &layout), 0u);
  ASSERT_EQ(layout.style, PARTITION_STYLE_GPT);
  GUID expected;
  ASSERT_TRUE(ParseGuidText(kImageDiskId, &expected));
  EXPECT_TRUE(SameDiskGuid(layout.diskId, expected));
  ASSERT_EQ(layout.partitions.size(), 2u);
  const DiskPartition& efiesp = layout.partitions[0];
  const DiskPartition& mainOs = layout.partitions[1];
  EXPECT_EQ(NameOf(efiesp.name), u"EFIESP");
  EXPECT_EQ(NameOf(mainOs.name), u"MainOS");
  ASSERT_TRUE(ParseGuidText(kEfiespId, &expected));
  EXPECT_TRUE(SameDiskGuid(efiesp.partitionId, expected));
  ASSERT_TRUE(ParseGuidText(kMainOsId, &expected));
  EXPECT_TRUE(SameDiskGuid(mainOs.partitionId, expected));
  ASSERT_TRUE(ParseGuidText("C12A7328-F81F-11D2-BA4B-00A0C93EC93B", &expected));  // EF00
  EXPECT_TRUE(SameDiskGuid(efiesp.typeId, expected));
  EXPECT_EQ(efiesp.number, 1u);
  EXPECT_EQ(mainOs.number, 2u);
  EXPECT_EQ(efiesp.startBytes, 2048u * 512);
  EXPECT_EQ(efiesp.lengthBytes, 8u << 20);
  EXPECT_EQ(mainOs.startBytes, efiesp.startBytes + efiesp.lengthBytes);
  EXPECT_LE(mainOs.startBytes + mainOs.lengthBytes, layout.firstUsableBytes + layout.usableLengthBytes);
  EXPECT_EQ(layout.firstUsableBytes, 34u * 512);
  EXPECT_EQ(layout.maxPartitionCount, 128u);
}

TEST_F(GptLayoutTest, RecordHasThePublishedLayout) {
  MakeImage("disk.img");
  DiskLayout layout;
  ASSERT_EQ(Read("disk.img", &layout), 0u);
  std::vector<uint8_t> buffer(1024, 0xEE);
  DWORD written = 0;
  ASSERT_EQ(FillDriveLayout(layout, buffer.data(), 1024, &written), 0u);
  EXPECT_EQ(written, 48u + 2 * 144);
  uint32_t style, count;
  memcpy(&style, buffer.data(), 4);
  memcpy(&count, buffer.data() + 4, 4);
  EXPECT_EQ(style, 1u);
  EXPECT_EQ(count, 2u);
  // The disk id as the 16 bytes of the usual little-endian GUID layout.
  const uint8_t imageDiskId[16] = {0x40, 0x00, 0x42, 0xAE, 0xDD, 0x13, 0xF2, 0x41,
                                   0xAE, 0x7F, 0x0D, 0xC3, 0x58, 0x54, 0xC8, 0xD7};
  EXPECT_EQ(0, memcmp(buffer.data() + 8, imageDiskId, 16));
  const uint8_t* second = buffer.data() + 48 + 144;
  const auto* entry = reinterpret_cast<const PARTITION_INFORMATION_EX*>(second);
  EXPECT_EQ(entry->PartitionStyle, 1u);
  EXPECT_EQ(static_cast<uint64_t>(entry->StartingOffset.QuadPart),
            layout.partitions[1].startBytes);
  EXPECT_EQ(NameOf(entry->Gpt.Name), u"MainOS");
  EXPECT_EQ(buffer[written], 0xEE) << "wrote past the record";
}

TEST_F(GptLayoutTest, ATooSmallBufferAsksForMore) {
  MakeImage("disk.img");
  DiskLayout layout;
  ASSERT_EQ(Read("disk.img", &layout), 0u);
  std::vector<uint8_t> buffer(48 + 144, 0xEE);
  DWORD written = 0;
  // The code is returned; DeviceIoControl, not this helper, sets the last error.
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(FillDriveLayout(layout, buffer.data(), static_cast<DWORD>(buffer.size()), &written),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(written, 48u + 2 * 144);
  EXPECT_EQ(buffer[0], 0xEE) << "a refused buffer stays untouched";
}

TEST_F(GptLayoutTest, ADiskWithoutTableIsRaw) {
  ASSERT_EQ(RunCommand("truncate -s 8M '" + scratch.Path("raw.img") + "'"), 0);
  DiskLayout layout;
  ASSERT_EQ(Read("raw.img", &layout), 0u);
  EXPECT_EQ(layout.style, PARTITION_STYLE_RAW);
  EXPECT_TRUE(layout.partitions.empty());
  uint8_t buffer[48];
  DWORD written = 0;
  EXPECT_EQ(FillDriveLayout(layout, buffer, sizeof(buffer), &written), 0u);
  EXPECT_EQ(written, 48u);
}

TEST_F(GptLayoutTest, AnMbrDiskIsReadWithItsEntries) {
  const std::string path = scratch.Path("mbr.img");
  ASSERT_EQ(RunCommand("truncate -s 8M '" + path + "'"), 0);
  uint8_t sector[512] = {};
  const uint32_t signature = 0x1234ABCD;
  memcpy(sector + 440, &signature, 4);
  uint8_t* entry = sector + 446;
  entry[0] = 0x80;  // bootable
  entry[4] = 0x07;  // type
  const uint32_t start = 2048, count = 4096;
  memcpy(entry + 8, &start, 4);
  memcpy(entry + 12, &count, 4);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, sector, 512, 0), 512);
  close(fd);
  DiskLayout layout;
  ASSERT_EQ(Read("mbr.img", &layout), 0u);
  EXPECT_EQ(layout.style, PARTITION_STYLE_MBR);
  EXPECT_EQ(layout.mbrSignature, signature);
  ASSERT_EQ(layout.partitions.size(), 1u);
  EXPECT_EQ(layout.partitions[0].startBytes, start * 512ull);
  EXPECT_EQ(layout.partitions[0].lengthBytes, count * 512ull);
  EXPECT_EQ(layout.partitions[0].mbrType, 0x07);
  EXPECT_TRUE(layout.partitions[0].mbrBoot);
}

struct GuidCase {
  const char* text;
  bool valid;
};

class GptGuidTextTest : public ::testing::TestWithParam<GuidCase> {};

TEST_P(GptGuidTextTest, ParsesOnlyWellFormedText) {
  GUID guid;
  ASSERT_EQ(ParseGuidText(GetParam().text, &guid), GetParam().valid) << GetParam().text;
  if (!GetParam().valid) return;
  std::string upper = GetParam().text;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  if (upper[0] != '{') upper = "{" + upper + "}";
  const std::wstring text = GuidText(guid);
  EXPECT_EQ(std::string(text.begin(), text.end()), upper);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GptGuidTextTest,
    ::testing::Values(GuidCase{"ae420040-13dd-41f2-ae7f-0dc35854c8d7", true},
                      GuidCase{"{AE420040-13DD-41F2-AE7F-0DC35854C8D7}", true},
                      GuidCase{"AE420040-13DD-41F2-AE7F-0DC35854C8D", false},
                      GuidCase{"AE420040-13DD-41F2-AE7F-0DC35854C8D7}", false},
                      GuidCase{"AE420040+13DD-41F2-AE7F-0DC35854C8D7", false},
                      GuidCase{"AE42004G-13DD-41F2-AE7F-0DC35854C8D7", false},
                      GuidCase{"", false}));

struct NameCase {
  const char* utf8;
  std::u16string expected;
};

class GptNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(GptNameTest, BecomesUtf16UnitsWithinTheField) {
  uint16_t name[36];
  memset(name, 0xFF, sizeof(name));
  Utf8ToGptName(GetParam().utf8, name);
  EXPECT_EQ(NameOf(name), GetParam().expected);
  for (size_t i = GetParam().expected.size(); i < 36; ++i) EXPECT_EQ(name[i], 0u) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Names, GptNameTest,
    ::testing::Values(
        NameCase{"MainOS", u"MainOS"}, NameCase{"", u""},
        NameCase{"Donn\xC3\xA9" "es", u"Donn\u00E9es"},
        NameCase{"a\xF0\x9F\x98\x80", u"a\U0001F600"},  // a surrogate pair
        NameCase{"abcdefghijklmnopqrstuvwxyz0123456789XYZ", u"abcdefghijklmnopqrstuvwxyz0123456789"},
        // 35 units, then a character needing two: it does not fit whole.
        NameCase{"abcdefghijklmnopqrstuvwxyz012345678\xF0\x9F\x98\x80",
                 u"abcdefghijklmnopqrstuvwxyz012345678"}));

}  // namespace
