// The layout query's growing buffer and its failure lines, and the disk
// property refresh, on a substitute platform.
#include <cstring>

#include "FakeSystem.h"
#include "common/FixedValues.h"
#include "volumes/DiskAttributes.h"
#include "volumes/DriveLayout.h"

namespace {
HANDLE const kDisk = reinterpret_cast<HANDLE>(0x5001);

struct GrowCase {
  int tooSmallAnswers;
  std::vector<DWORD> expectedSizes;
};

class LayoutGrowth : public FakeSystemTest, public ::testing::WithParamInterface<GrowCase> {};

TEST_P(LayoutGrowth, DoublesTheBufferWhileTheDriveSaysTooSmall) {
  std::vector<uint8_t> record = MakeLayout(kImageDiskId, {L"EFIESP", L"MainOS"});
  std::vector<DWORD> sizes;
  int answers = GetParam().tooSmallAnswers;
  Fake().deviceIoControl = [&](HANDLE, DWORD code, LPVOID out, DWORD outSize, LPDWORD) -> BOOL {
    EXPECT_EQ(code, static_cast<DWORD>(IOCTL_DISK_GET_DRIVE_LAYOUT_EX));
    sizes.push_back(outSize);
    if (static_cast<int>(sizes.size()) <= answers) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(out, record.data(), record.size());
    return TRUE;
  };
  DriveLayout layout;
  EXPECT_EQ(GetDriveLayout(kDisk, layout), 0);
  EXPECT_EQ(sizes, GetParam().expectedSizes);
  EXPECT_EQ(layout.buffer.size(), GetParam().expectedSizes.back());
  ASSERT_EQ(layout.EntryCount(), 2u);
  EXPECT_TRUE(MatchPartitionName(layout.Entry(1), L"MainOS"));
  EXPECT_TRUE(IsImageDisk(layout));
  EXPECT_EQ(Output(), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, LayoutGrowth,
                         ::testing::Values(GrowCase{0, {1024}}, GrowCase{1, {1024, 2048}},
                                           GrowCase{3, {1024, 2048, 4096, 8192}}));

TEST_F(FakeSystemTest, LayoutQueryThatKeepsSayingTooSmallEndsAsAFailure) {
  int calls = 0;
  Fake().deviceIoControl = [&](HANDLE, DWORD, LPVOID, DWORD, LPDWORD) -> BOOL {
    ++calls;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  };
  DriveLayout layout;
  EXPECT_EQ(GetDriveLayout(kDisk, layout), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_LT(calls, 20);
  EXPECT_TRUE(layout.buffer.empty());
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Unable to get disk layout.\n"
            "!ERROR! The data area passed to a system call is too small.\r\n\n");
}

TEST_F(FakeSystemTest, LayoutRefusedWithAnotherErrorPrintsWarningAndErrorLine) {
  Fake().deviceIoControl = [](HANDLE, DWORD, LPVOID, DWORD, LPDWORD) -> BOOL {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  };
  DriveLayout layout;
  EXPECT_EQ(GetDriveLayout(kDisk, layout), ERROR_NOT_READY);
  EXPECT_TRUE(layout.buffer.empty());
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Unable to get disk layout.\n"
            "!ERROR! The device is not ready.\r\n\n");
}

struct AttributesCase {
  const char* name;
  bool updateFails;
  int expectedCalls;
  int expectedResult;
  const char* expectedOutput;
};

class DiskAttributes : public FakeSystemTest, public ::testing::WithParamInterface<AttributesCase> {};

TEST_P(DiskAttributes, RefreshesAndReportsAFailure) {
  const AttributesCase& c = GetParam();
  std::vector<DWORD> codes;
  Fake().deviceIoControl = [&](HANDLE, DWORD code, LPVOID, DWORD, LPDWORD) -> BOOL {
    codes.push_back(code);
    if (c.updateFails) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return FALSE;
    }
    return TRUE;
  };
  HANDLE disk = kDisk;
  EXPECT_EQ(UpdateDiskProperties(disk), c.expectedResult);
  EXPECT_EQ(static_cast<int>(codes.size()), c.expectedCalls);
  EXPECT_EQ(codes.front(), static_cast<DWORD>(IOCTL_DISK_UPDATE_PROPERTIES));
  EXPECT_EQ(disk, kDisk);
  EXPECT_EQ(Output(), c.expectedOutput);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskAttributes,
    ::testing::Values(AttributesCase{"success", false, 1, 0, ""},
                      AttributesCase{"update refused", true, 1, 1,
                                     "(Korvex) !WARNING! Unable to update disk properties.\n"
                                     "!ERROR! Incorrect function.\r\n\n"}),
    [](const ::testing::TestParamInfo<AttributesCase>& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name;
    });

TEST(PartitionNames, MatchOnlyTheExactName) {
  struct Case {
    std::wstring entryName;
    bool matches;
  } cases[] = {
      {L"MainOS", true}, {L"mainos", false}, {L"MAINOS", false}, {L"MainO", false},
      {L"MainOS2", false}, {L"", false}, {L"Data", false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> record = MakeLayout(kImageDiskId, {c.entryName});
    DriveLayout layout;
    layout.buffer = record;
    EXPECT_EQ(MatchPartitionName(layout.Entry(0), L"MainOS"), c.matches);
  }
  // A name of all 36 units has no terminator; it is matched on those units.
  std::wstring full(36, L'x');
  DriveLayout layout;
  layout.buffer = MakeLayout(kImageDiskId, {full});
  EXPECT_TRUE(MatchPartitionName(layout.Entry(0), full));
  EXPECT_FALSE(MatchPartitionName(layout.Entry(0), full + L"x"));
}

TEST(ImageDisks, AreGptDisksWithTheImageDiskIdentifier) {
  GUID other = kImageDiskId;
  other.Data4[7] ^= 1;
  struct Case {
    GUID diskId;
    DWORD style;
    bool image;
  } cases[] = {{kImageDiskId, 1, true}, {other, 1, false}, {kImageDiskId, 0, false},
               {kImageDiskId, 2, false}};
  for (const Case& c : cases) {
    DriveLayout layout;
    layout.buffer = MakeLayout(c.diskId, {L"MainOS"}, c.style);
    EXPECT_EQ(IsImageDisk(layout), c.image);
  }
}

TEST(VolumePaths, CarryThePartitionGuidInRegistryForm) {
  DriveLayout layout;
  layout.buffer = MakeLayout(kImageDiskId, {L"MainOS"});
  std::wstring guidPath = MakeVolumeGuidPath(layout.Entry(0));
  std::wstring devicePath = MakeVolumeDevicePath(layout.Entry(0));
  EXPECT_EQ(guidPath, L"\\\\?\\Volume{11110000-2222-3333-4455-66778899AABB}\\");
  EXPECT_EQ(guidPath.size(), 49u);
  EXPECT_EQ(devicePath, L"\\\\.\\Volume{11110000-2222-3333-4455-66778899AABB}");
  EXPECT_EQ(devicePath.size(), 48u);
}
}  // namespace
