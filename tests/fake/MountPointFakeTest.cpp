// Mounting a partition's volume on the work folder when the volume is late,
// never comes, or the folder is taken, on a substitute platform.
#include <cstring>
#include <map>

#include "FakeSystem.h"
#include "common/FixedValues.h"
#include "ffu/MountChoice.h"
#include "volumes/DriveLayout.h"
#include "volumes/MountCheck.h"
#include "volumes/PartitionMounts.h"

namespace {
HANDLE const kDisk = reinterpret_cast<HANDLE>(0x5001);
HANDLE const kVolume = reinterpret_cast<HANDLE>(0x6001);
const std::wstring kFolder = L"/tmp/phone.mnt/";

class MountPoints : public FakeSystemTest {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    Fake().refusedAccess = GENERIC_WRITE;  // the wait for a volume needs no more
    UseLayout({L"EFIESP", L"MainOS"});
    Fake().createFile = [this](LPCWSTR) -> HANDLE {
      ++opens;
      if (opens <= volumeLateBy) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      return kVolume;
    };
    Fake().closeHandle = [](HANDLE handle) -> BOOL { return handle == kVolume; };
    Fake().setVolumeMountPoint = [this](LPCWSTR folder, LPCWSTR volume) -> BOOL {
      mounts.emplace_back(folder, volume);
      if (mountError != 0) {
        SetLastError(mountError);
        return FALSE;
      }
      return TRUE;
    };
  }

  void UseLayout(const std::vector<std::wstring>& names) {
    record = MakeLayout(kImageDiskId, names);
    Fake().deviceIoControl = [this](HANDLE, DWORD, LPVOID out, DWORD outSize, LPDWORD) -> BOOL {
      if (outSize < record.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      std::memcpy(out, record.data(), record.size());
      return TRUE;
    };
  }

  // The choice of the partition that MakeLayout places at `index`, by the
  // name "MainOS".
  static MountChoice Chosen(uint32_t index) {
    MountChoice choice;
    choice.partition.name = L"MainOS";
    choice.partition.id = AsDiskGuid(PartitionGuid(index));
    choice.sectorSize = 512;
    choice.byName = true;
    return choice;
  }

  std::vector<uint8_t> record;
  int opens = 0;
  int volumeLateBy = 0;
  DWORD mountError = 0;
  std::vector<std::pair<std::wstring, std::wstring>> mounts;
};

const std::wstring kMainOsVolume = L"\\\\?\\Volume{11110001-2222-3333-4455-66778899AABB}\\";

TEST_F(MountPoints, WaitsForALateVolumeThenMounts) {
  volumeLateBy = 3;
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(1), kFolder), 0);
  EXPECT_EQ(Fake().sleeps, 3);
  EXPECT_EQ(Fake().sleptMs, 750u);
  ASSERT_EQ(mounts.size(), 1u);
  EXPECT_EQ(mounts[0].first, kFolder);
  EXPECT_EQ(mounts[0].second, kMainOsVolume);
  EXPECT_EQ(Output(), "");
}

TEST_F(MountPoints, AVolumeThatNeverArrivesTimesOutAfterThirtySeconds) {
  volumeLateBy = 1 << 30;
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(1), kFolder), ERROR_TIMEOUT);
  EXPECT_EQ(Fake().sleptMs, 30000u);
  EXPECT_TRUE(mounts.empty());
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Unable to add access path to the MainOS partition.\n"
            "!ERROR! This operation returned because the timeout period expired.\r\n\n");
}

// The check of the folder asks the volume its number without write access.
TEST_F(MountPoints, TheFolderIsCheckedWithoutWriteAccess) {
  Fake().getVolumeNameForMountPoint = [](LPCWSTR, LPWSTR volume, DWORD length) -> BOOL {
    wcsncpy(volume, kMainOsVolume.c_str(), length);
    return TRUE;
  };
  Fake().deviceIoControl = [](HANDLE, DWORD request, LPVOID out, DWORD, LPDWORD) -> BOOL {
    EXPECT_EQ(request, static_cast<DWORD>(IOCTL_STORAGE_GET_DEVICE_NUMBER));
    *static_cast<STORAGE_DEVICE_NUMBER*>(out) = STORAGE_DEVICE_NUMBER{7, 3, 0};
    return TRUE;
  };
  EXPECT_EQ(VolumeAtFolder(kDisk, kFolder), FolderVolume::kOnDisk);
}

TEST_F(MountPoints, AChosenPartitionMissingFromTheLayoutMountsNothing) {
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(2), kFolder), ERROR_NOT_FOUND);
  EXPECT_TRUE(mounts.empty());
  EXPECT_EQ(opens, 0);
}

TEST_F(MountPoints, OnlyTheChosenEntryIsMountedNotOthersOfItsName) {
  UseLayout({L"MainOS", L"EFIESP", L"MainOS"});
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(2), kFolder), 0);
  ASSERT_EQ(mounts.size(), 1u);
  EXPECT_EQ(mounts[0].second, L"\\\\?\\Volume{11110002-2222-3333-4455-66778899AABB}\\");
}

struct TakenCase {
  const char* name;
  bool folderIsMountPoint;
  std::wstring mountedVolume;
  int expectedResult;
};

class TakenFolder : public MountPoints, public ::testing::WithParamInterface<TakenCase> {};

// "Directory not empty" is success only when the folder already carries this
// very volume.
TEST_P(TakenFolder, DirectoryNotEmptyCountsOnlyForTheSameVolume) {
  const TakenCase& c = GetParam();
  mountError = ERROR_DIR_NOT_EMPTY;
  Fake().getVolumeNameForMountPoint = [&](LPCWSTR folder, LPWSTR volume, DWORD length) -> BOOL {
    EXPECT_EQ(std::wstring(folder), kFolder);
    if (!c.folderIsMountPoint) {
      SetLastError(ERROR_NOT_A_REPARSE_POINT);
      return FALSE;
    }
    wcsncpy(volume, c.mountedVolume.c_str(), length);
    return TRUE;
  };
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(1), kFolder), c.expectedResult);
  std::string output = Output();
  if (c.expectedResult == 0) {
    EXPECT_EQ(output, "");
  } else {
    EXPECT_EQ(output,
              "(Korvex) !WARNING! Unable to add access path to the MainOS partition.\n"
              "!ERROR! The directory is not empty.\r\n\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TakenFolder,
    ::testing::Values(TakenCase{"same_volume", true, kMainOsVolume, 0},
                      // Windows answers volume names in lower case.
                      TakenCase{"same_volume_lower_case", true,
                                L"\\\\?\\Volume{11110001-2222-3333-4455-66778899aabb}\\", 0},
                      TakenCase{"other_volume_lower_case", true,
                                L"\\\\?\\Volume{11110001-2222-3333-4455-66778899aabc}\\",
                                ERROR_DIR_NOT_EMPTY},
                      TakenCase{"other_volume", true,
                                L"\\\\?\\Volume{99999999-2222-3333-4455-66778899AABB}\\",
                                ERROR_DIR_NOT_EMPTY},
                      TakenCase{"plain_folder_with_files", false, L"", ERROR_DIR_NOT_EMPTY}),
    [](const ::testing::TestParamInfo<TakenCase>& info) { return std::string(info.param.name); });

TEST_F(MountPoints, OtherMountErrorsFailAndStopTheWalk) {
  UseLayout({L"MainOS", L"MainOS"});
  mountError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(0), kFolder), ERROR_ACCESS_DENIED);
  EXPECT_EQ(mounts.size(), 1u);
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Unable to add access path to the MainOS partition.\n"
            "!ERROR! Access is denied.\r\n\n");
}

TEST_F(MountPoints, LayoutFailurePrintsBothLayersLines) {
  Fake().deviceIoControl = [](HANDLE, DWORD, LPVOID, DWORD, LPDWORD) -> BOOL {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  };
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(1), kFolder), ERROR_NOT_READY);
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Unable to get disk layout.\n"
            "!ERROR! The device is not ready.\r\n\n"
            "(Korvex) !WARNING! Unable to add access path to the MainOS partition.\n"
            "!ERROR! The device is not ready.\r\n\n");
}

TEST_F(MountPoints, StatusLineIsRewrittenWithOkOrACoveringFault) {
  Fake().console = true;
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(1), kFolder), 0);
  ASSERT_EQ(Fake().consoleWrites.size(), 2u);
  EXPECT_EQ(Fake().consoleWrites[0], L"Mounting MainOS partition as : '//phone.mnt/' ... processing\n");
  EXPECT_EQ(Fake().consoleWrites[1], L"Mounting MainOS partition as : '//phone.mnt/' ... ok         \n");

  Fake().consoleWrites.clear();
  mountError = ERROR_ACCESS_DENIED;
  EXPECT_NE(MountChosenPartition(kDisk, Chosen(1), kFolder), 0);
  ASSERT_EQ(Fake().consoleWrites.size(), 2u);
  const std::wstring& fault = Fake().consoleWrites[1];
  EXPECT_EQ(fault.rfind(L"Mounting 'MainOS' ... fault!      ", 0), 0u);
  // The rewrite covers the whole start text, so no "processing" is left.
  EXPECT_GE(fault.size(), Fake().consoleWrites[0].size());
  EXPECT_EQ(fault.back(), L'\n');
}

TEST_F(MountPoints, UnmountRemovesOurWorkFolderElseOnlyTheFirstAccessPath) {
  UseLayout({L"MainOS"});
  std::vector<std::wstring> removed;
  Fake().getVolumePathNames = [](LPCWSTR, LPWSTR paths, DWORD length) -> BOOL {
    const wchar_t list[] = L"/tmp/a.mnt/\0/tmp/b.mnt/\0";
    EXPECT_EQ(length, 260u);
    std::memcpy(paths, list, sizeof(list));
    return TRUE;
  };
  Fake().deleteVolumeMountPoint = [&](LPCWSTR path) -> BOOL {
    removed.emplace_back(path);
    return TRUE;
  };
  EXPECT_EQ(UnmountMainPartition(kDisk), 0);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0], L"/tmp/a.mnt/");

  // A drive letter first, our work folder second: ours goes.
  removed.clear();
  wchar_t temp[MAX_PATH] = {};
  const std::wstring ours = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"phone.mnt/";
  const std::wstring list = L"/media/letter/" + std::wstring(1, L'\0') + ours + L'\0' + L'\0';
  Fake().getVolumePathNames = [&](LPCWSTR, LPWSTR paths, DWORD) {
    return list.copy(paths, list.size()), TRUE;
  };
  EXPECT_EQ(UnmountMainPartition(kDisk), 0);
  EXPECT_EQ(removed, std::vector<std::wstring>{ours});

  removed.clear();
  Fake().getVolumePathNames = [](LPCWSTR, LPWSTR paths, DWORD) -> BOOL {
    paths[0] = paths[1] = L'\0';
    return TRUE;
  };
  EXPECT_EQ(UnmountMainPartition(kDisk), 0);
  EXPECT_TRUE(removed.empty());
}
// Where no volume bears the partition GUID's name, the volume is the one the
// system lists on our disk (3) at the partition's number, by the name the
// system gives it: the mount and the sweep's removal both find it.
TEST_F(MountPoints, AVolumeNamedOtherwiseIsFoundByItsDiskAndPartitionNumbers) {
  const std::wstring ours = L"\\\\?\\Volume{b}\\";
  Fake().volumes = {L"\\\\?\\Volume{a}\\", ours};
  std::map<std::wstring, STORAGE_DEVICE_NUMBER> numbers = {// of disks (7), disk, partition
                                                           {L"\\\\.\\Volume{a}", {7, 4, 2}},
                                                           {L"\\\\.\\Volume{b}", {7, 3, 2}}};
  std::map<HANDLE, STORAGE_DEVICE_NUMBER> opened = {{kDisk, {7, 3, 0}}};
  Fake().createFile = [&](LPCWSTR path) -> HANDLE {  // the GUID's name never opens
    if (numbers.count(path) == 0) return SetLastError(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    HANDLE handle = reinterpret_cast<HANDLE>(0x6100 + opened.size());
    return opened[handle] = numbers[path], handle;
  };
  Fake().closeHandle = [&](HANDLE handle) -> BOOL { return opened.erase(handle) == 1; };
  Fake().deviceIoControl = [&](HANDLE handle, DWORD request, LPVOID out, DWORD, LPDWORD) -> BOOL {
    if (request == IOCTL_DISK_GET_DRIVE_LAYOUT_EX)
      return memcpy(out, record.data(), record.size()), TRUE;
    return *static_cast<STORAGE_DEVICE_NUMBER*>(out) = opened.at(handle), TRUE;
  };
  EXPECT_EQ(MountChosenPartition(kDisk, Chosen(1), kFolder), 0);
  EXPECT_EQ(mounts, (std::vector<std::pair<std::wstring, std::wstring>>{{kFolder, ours}}));
  const std::wstring paths = kFolder + L'\0' + L'\0';
  Fake().getVolumePathNames = [&](LPCWSTR volume, LPWSTR list, DWORD) -> BOOL {
    if (volume != ours) return SetLastError(ERROR_FILE_NOT_FOUND), FALSE;
    return paths.copy(list, paths.size()), TRUE;
  };
  std::vector<std::wstring> removed;
  Fake().deleteVolumeMountPoint = [&](LPCWSTR path) { return removed.emplace_back(path), TRUE; };
  EXPECT_EQ(UnmountMainPartition(kDisk), 0);
  EXPECT_EQ(removed, std::vector<std::wstring>{kFolder});
  EXPECT_EQ(opened.size() + Fake().sleeps, 1u) << "every volume closed, no wait";
}
}  // namespace
