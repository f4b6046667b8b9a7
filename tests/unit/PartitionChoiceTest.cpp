// Which partition a disk is browsed by: "MainOS" where the table names it,
// else the largest basic data partition, else none.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/GptRecords.h"
#include "volumes/PartitionChoice.h"

namespace {
const GUID kEfiSystemType = {0xC12A7328, 0xF81F, 0x11D2,
                             {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
const GUID kRecoveryType = {0xDE94BBA4, 0x06D1, 0x4D40,
                            {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};

struct Part {
  std::wstring name;
  bool basicData;
  uint64_t mib;
};

DriveLayout MakeDriveLayout(const std::vector<Part>& parts, DWORD style = PARTITION_STYLE_GPT) {
  DriveLayout layout;
  layout.buffer.assign(48 + 144 * parts.size(), 0);
  auto* header = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(layout.buffer.data());
  header->PartitionStyle = style;
  header->PartitionCount = static_cast<DWORD>(parts.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    auto* entry =
        reinterpret_cast<PARTITION_INFORMATION_EX*>(layout.buffer.data() + 48 + 144 * i);
    entry->PartitionStyle = style;
    entry->PartitionLength.QuadPart = static_cast<LONGLONG>(parts[i].mib << 20);
    entry->Gpt.PartitionType = parts[i].basicData ? CopyGuid<GUID>(kGptBasicDataType)
                               : i % 2 == 0       ? kEfiSystemType
                                                  : kRecoveryType;
    for (size_t u = 0; u < parts[i].name.size() && u < 36; ++u)
      entry->Gpt.Name[u] = static_cast<uint16_t>(parts[i].name[u]);
  }
  return layout;
}

struct ChoiceCase {
  const char* name;
  std::vector<Part> parts;
  DWORD style;
  bool found;
  bool byName;
  std::vector<uint32_t> included;  // entries the choice takes
};

class Choice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(Choice, TakesTheExpectedEntries) {
  const ChoiceCase& c = GetParam();
  DriveLayout layout = MakeDriveLayout(c.parts, c.style);
  PartitionChoice choice = ChoosePartition(layout);
  EXPECT_EQ(choice.found, c.found);
  EXPECT_EQ(choice.byName, c.byName);
  std::vector<uint32_t> included;
  for (uint32_t i = 0; i < layout.EntryCount(); ++i)
    if (choice.Includes(i, layout.Entry(i))) included.push_back(i);
  EXPECT_EQ(included, c.included);
}

const std::wstring kBasic = L"Basic data partition";

INSTANTIATE_TEST_SUITE_P(
    Cases, Choice,
    testing::Values(
        ChoiceCase{"main_os_over_a_larger_basic_data",
                   {{L"EFIESP", false, 8}, {kBasic, true, 900}, {L"MainOS", true, 100}},
                   PARTITION_STYLE_GPT, true, true, {2}},
        ChoiceCase{"every_main_os",
                   {{L"MainOS", false, 8}, {L"Data", true, 9}, {L"MainOS", true, 10}},
                   PARTITION_STYLE_GPT, true, true, {0, 2}},
        ChoiceCase{"largest_basic_data_alone_even_with_the_same_name",
                   {{L"EFI system partition", false, 100}, {kBasic, true, 40},
                    {L"Recovery", false, 5000}, {kBasic, true, 700}, {kBasic, true, 300}},
                   PARTITION_STYLE_GPT, true, false, {3}},
        ChoiceCase{"first_of_equal_size",
                   {{L"A", true, 64}, {L"B", true, 64}}, PARTITION_STYLE_GPT, true, false, {0}},
        ChoiceCase{"main_os_in_other_letters_is_not_main_os",
                   {{L"mainos", false, 50}, {L"Data", true, 10}}, PARTITION_STYLE_GPT, true,
                   false, {1}},
        ChoiceCase{"no_basic_data", {{L"EFIESP", false, 8}, {L"Data", false, 64}},
                   PARTITION_STYLE_GPT, false, false, {}},
        ChoiceCase{"empty_basic_data", {{L"Data", true, 0}}, PARTITION_STYLE_GPT, false, false,
                   {}},
        ChoiceCase{"no_entries", {}, PARTITION_STYLE_GPT, false, false, {}},
        ChoiceCase{"not_gpt", {{L"MainOS", true, 64}}, PARTITION_STYLE_MBR, false, false, {}}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });
}  // namespace
