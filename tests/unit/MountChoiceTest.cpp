// The partition a run mounts, chosen from the stores' partition tables
// before anything is made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffu/MountChoice.h"
#include "formats/GptRecords.h"
#include "StdoutCapture.h"

namespace {
constexpr uint64_t kHidden = kGptAttributeHidden;

struct Part {
  std::wstring name;
  bool basicData;
  uint64_t first;
  uint64_t last;
  uint64_t attributes = 0;
};

struct ChoiceCase {
  const char* what;
  std::vector<std::vector<Part>> stores;  // 512-byte sectors in store 1, 4096 after
  std::wstring wanted;
  size_t store;          // of the choice
  std::wstring chosen;   // empty: refused
  std::string line;      // the refusal's line
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.what; }

class MountChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(MountChoiceTest, ChoosesOrRefusesWithALine) {
  const ChoiceCase& c = GetParam();
  std::vector<std::vector<ImagePartition>> tables;
  std::vector<uint32_t> sectorSizes;
  for (const auto& parts : c.stores) {
    sectorSizes.push_back(tables.empty() ? 512 : 4096);
    tables.emplace_back();
    for (const Part& part : parts) {
      ImagePartition partition;
      partition.name = part.name;
      partition.type = part.basicData ? kGptBasicDataType : kGptEfiSystemType;
      partition.firstSector = part.first;
      partition.lastSector = part.last;
      partition.attributes = part.attributes;
      tables.back().push_back(partition);
    }
  }
  MountChoice choice;
  StdoutCapture capture;
  int result = ChooseFromTables(tables, sectorSizes, c.wanted, choice);
  std::string output = capture.Finish();
  if (c.chosen.empty()) {
    EXPECT_EQ(output, c.line);
    EXPECT_EQ(result, static_cast<int>(c.line.size()));
    return;
  }
  EXPECT_EQ(result, 0) << output;
  EXPECT_EQ(choice.store, c.store);
  EXPECT_EQ(choice.partition.name, c.chosen);
  EXPECT_EQ(choice.sectorSize, sectorSizes[c.store]);
}

const std::vector<Part> kPhone = {{L"EFIESP", false, 34, 16417}, {L"MainOS", true, 16418, 65502}};
const std::vector<Part> kData = {{L"Data", true, 6, 2000}};

INSTANTIATE_TEST_SUITE_P(
    Cases, MountChoiceTest,
    testing::Values(
        ChoiceCase{"MainOS in store 2", {kData, kPhone}, L"", 1, L"MainOS", ""},
        ChoiceCase{"largest basic data over the stores",
                   {{{L"Small", true, 34, 10000}}, {{L"Large", true, 6, 2000}}}, L"", 1, L"Large", ""},
        ChoiceCase{"a wanted name", {kPhone, kData}, L"Data", 1, L"Data", ""},
        ChoiceCase{"two MainOS", {kPhone, kPhone}, L"", 0, L"",
                   "(Korvex) !ERROR! The image has 2 partitions named MainOS; which one to mount "
                   "cannot be told.\n"},
        ChoiceCase{"a name the image lacks", {kPhone, kData}, L"Windows", 0, L"",
                   "(Korvex) !ERROR! The image has no partition named Windows; it has 'EFIESP', "
                   "'MainOS' and 'Data'.\n"},
        ChoiceCase{"nothing to mount", {{{L"EFIESP", false, 34, 100}}}, L"", 0, L"",
                   "(Korvex) !ERROR! The image has no partition named MainOS and no basic data "
                   "partition to mount instead.\n"},
        ChoiceCase{"first sector after the last", {{{L"MainOS", true, 900, 899}}}, L"", 0, L"",
                   "(Korvex) !ERROR! The partition MainOS cannot be mounted because its first "
                   "sector (900) lies after its last (899).\n"},
        ChoiceCase{"not basic data", {kPhone}, L"EFIESP", 0, L"",
                   "(Korvex) !ERROR! The partition EFIESP cannot be mounted because it is not a "
                   "basic data partition, and Windows gives no other kind a volume.\n"},
        ChoiceCase{"hidden", {{{L"MainOS", true, 34, 900, kHidden}}}, L"", 0, L"",
                   "(Korvex) !ERROR! The partition MainOS cannot be mounted because it is hidden "
                   "(GPT attribute 62), and Windows gives a hidden partition no volume.\n"}));
}  // namespace
