// The partition a run mounts, chosen from the stores' partition tables
// before anything is made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffu/MountChoice.h"
#include "formats/GptRecords.h"
#include "StdoutCapture.h"

namespace {
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
  size_t store;         // of the choice
  std::wstring chosen;  // empty: refused with `line`
  std::string line;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.what; }

class MountChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(MountChoiceTest, ChoosesOrRefusesWithALine) {
  const ChoiceCase& c = GetParam();
  std::vector<std::vector<ImagePartition>> tables(c.stores.size());
  std::vector<uint32_t> sectorSizes;
  for (size_t i = 0; i < c.stores.size(); ++i) {
    sectorSizes.push_back(i == 0 ? 512 : 4096);
    for (const Part& part : c.stores[i]) {
      ImagePartition partition;
      partition.name = part.name;
      partition.type = part.basicData ? kGptBasicDataType : kGptEfiSystemType;
      partition.firstSector = part.first;
      partition.lastSector = part.last;
      partition.attributes = part.attributes;
      partition.number = static_cast<uint32_t>(tables[i].size() + 1);
      tables[i].push_back(partition);
    }
  }
  MountChoice choice;
  StdoutCapture capture;
  int result = ChooseFromTables(tables, sectorSizes, c.wanted, choice);
  std::string output = capture.Finish();
  EXPECT_EQ(output, c.line);
  EXPECT_EQ(result, static_cast<int>(c.line.size()));
  if (c.chosen.empty()) return;
  EXPECT_EQ(choice.store, c.store);
  EXPECT_EQ(choice.partition.name, c.chosen);
  EXPECT_EQ(choice.sectorSize, sectorSizes[c.store]);
}

const std::vector<Part> kPhone = {{L"EFIESP", false, 34, 16417}, {L"MainOS", true, 16418, 65502}};
const std::vector<Part> kData = {{L"Data", true, 6, 2000}};
const char kError[] = "(Korvex) !ERROR! ";

INSTANTIATE_TEST_SUITE_P(
    Cases, MountChoiceTest,
    testing::Values(
        ChoiceCase{"MainOS in store 2", {kData, kPhone}, L"", 1, L"MainOS", ""},
        ChoiceCase{"largest basic data over the stores",
                   {{{L"Small", true, 34, 10000}}, {{L"Large", true, 6, 2000}}}, L"", 1, L"Large", ""},
        ChoiceCase{"a wanted name", {kPhone, kData}, L"Data", 1, L"Data", ""},
        ChoiceCase{"two MainOS", {kPhone, kPhone}, L"", 0, L"", std::string(kError) +
                   "The image has 2 partitions named MainOS; which one to mount cannot be told.\n"},
        ChoiceCase{"a name the image lacks", {kPhone, kData}, L"Windows", 0, L"", std::string(kError) +
                   "The image has no partition named Windows; it has 'EFIESP', 'MainOS' and 'Data'.\n"},
        ChoiceCase{"nothing to mount", {{{L"EFIESP", false, 34, 100}}}, L"", 0, L"", std::string(kError) +
                   "The image has no partition named MainOS and no basic data partition to mount instead.\n"},
        ChoiceCase{"first sector after the last", {{{L"MainOS", true, 900, 899}}}, L"", 0, L"",
                   std::string(kError) + "The partition MainOS cannot be mounted because its first "
                   "sector (900) lies after its last (899).\n"},
        ChoiceCase{"not basic data", {kPhone}, L"EFIESP", 0, L"", std::string(kError) +
                   "The partition EFIESP cannot be mounted because it is not a basic data partition, "
                   "and Windows gives no other kind a volume.\n"},
        ChoiceCase{"hidden", {{{L"MainOS", true, 34, 900, kGptAttributeHidden}}}, L"", 0, L"",
                   std::string(kError) + "The partition MainOS cannot be mounted because it is hidden "
                   "(GPT attribute 62), and Windows gives a hidden partition no volume.\n"},
        ChoiceCase{"names that would steer the terminal",
                   {{{L"Main\x1b[2J", true, 34, 900}, {L"A\x9b" L"31m", true, 901, 1000}}}, L"Win",
                   0, L"", std::string(kError) +
                   "The image has no partition named Win; it has 'Main?[2J' and 'A?31m'.\n"},
        ChoiceCase{"a refused partition's name",
                   {{{L"MainOS", false, 34, 900},
                     {L"\x1b]0;x\x07", true, 901, 1000, kGptAttributeHidden}}},
                   L"\x1b]0;x\x07", 0, L"", std::string(kError) +
                   "The partition ?]0;x? cannot be mounted because it is hidden (GPT attribute "
                   "62), and Windows gives a hidden partition no volume.\n"},
        ChoiceCase{"overlapping another partition",
                   {{{L"EFIESP", false, 34, 16417}, {L"MainOS", true, 16417, 65502}}}, L"", 0, L"",
                   std::string(kError) + "The partition MainOS cannot be mounted because it overlaps "
                   "the partition EFIESP (sectors 34 to 16417).\n"}));
}  // namespace
