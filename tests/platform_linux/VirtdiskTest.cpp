// The virtual disk calls (virtdisk.cpp). They fail as Windows does: they
// return the Win32 code and leave the thread's last error as it was, so a
// caller that reports GetLastError() after them reports a stale code and is
// caught here. Each format opens with its own storage type only.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "Commands.h"
#include "TempFolder.h"
#include "VirtualDisks.h"
#include "win32.h"

namespace {

// Left by an earlier call; none of the calls below may touch it. Bit 29
// marks a code of the application's own, which no system call sets.
const DWORD kEarlierError = 0x20000123;

DWORD Open(const std::wstring& path, HANDLE* handle) {
  return OpenDisk(VIRTUAL_STORAGE_TYPE_DEVICE_VHD, path, VIRTUAL_DISK_ACCESS_DETACH, handle);
}

struct FailingCall {
  const char* name;
  DWORD expected;
  // Runs the failing call in `folder`, which holds "unattached.vhd", a VHD
  // that no loop device is bound to, and the open handle `vhd` of it.
  std::function<DWORD(const std::wstring& folder, HANDLE vhd)> call;
};

class VirtualDiskErrors : public ::testing::TestWithParam<FailingCall> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    folder.assign(temp.path.begin(), temp.path.end());
    ASSERT_EQ(CreateVhd(folder + L"/unattached.vhd", 4 << 20, 512, &vhd), 0u);
  }
  void TearDown() override {
    if (vhd != INVALID_HANDLE_VALUE) CloseHandle(vhd);
  }
  TempFolder temp;
  std::wstring folder;
  HANDLE vhd = INVALID_HANDLE_VALUE;
};

TEST_P(VirtualDiskErrors, ReturnTheCodeAndLeaveTheLastErrorAlone) {
  SetLastError(kEarlierError);
  EXPECT_EQ(GetParam().call(folder, vhd), GetParam().expected);
  EXPECT_EQ(GetLastError(), kEarlierError);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, VirtualDiskErrors,
    ::testing::Values(
        FailingCall{"create_4096_byte_sectors", ERROR_INVALID_PARAMETER,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return CreateVhd(folder + L"/big.vhd", 4 << 20, 4096, &handle);
                    }},
        // The service makes no disk under 3 MB and no VHD over 2040 GiB.
        FailingCall{"create_under_3_mb", ERROR_INVALID_PARAMETER,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return CreateVhd(folder + L"/small.vhd", (3 << 20) - 512, 512, &handle);
                    }},
        FailingCall{"create_vhd_over_2040_gib", ERROR_INVALID_PARAMETER,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return CreateVhd(folder + L"/huge.vhd", (2040ull << 30) + 512, 512, &handle);
                    }},
        FailingCall{"create_over_an_existing_file", ERROR_FILE_EXISTS,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return CreateVhd(folder + L"/unattached.vhd", 4 << 20, 512, &handle);
                    }},
        FailingCall{"open_a_missing_file", ERROR_FILE_NOT_FOUND,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return Open(folder + L"/missing.vhd", &handle);
                    }},
        FailingCall{"attach_a_handle_that_is_no_virtual_disk", ERROR_INVALID_HANDLE,
                    [](const std::wstring&, HANDLE) {
                      return AttachVirtualDisk(INVALID_HANDLE_VALUE, nullptr,
                                               ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER, 0,
                                               nullptr, nullptr);
                    }},
        FailingCall{"physical_path_of_an_unattached_disk", ERROR_NOT_FOUND,
                    [](const std::wstring&, HANDLE vhd) {
                      wchar_t path[64] = {};
                      ULONG size = sizeof(path);
                      return GetVirtualDiskPhysicalPath(vhd, &size, path);
                    }},
        FailingCall{"detach_an_unattached_disk", ERROR_NOT_FOUND,
                    [](const std::wstring&, HANDLE vhd) {
                      return DetachVirtualDisk(vhd, DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
                    }}),
    [](const ::testing::TestParamInfo<FailingCall>& info) { return std::string(info.param.name); });

// The sweep opens a backing file with the storage type of its format; the
// other type is refused, as the platform's own service refuses it.
TEST(VhdxOpen, EachFormatOpensWithItsOwnStorageTypeOnly) {
  TempFolder folder;
  const std::string vhdx = folder.path + "/kmd3.vhdx";
  ASSERT_EQ(CreateVhdx(vhdx, 64 << 20, 4096), 0u);
  const std::string vhd = folder.path + "/kmd4.vhd";
  ASSERT_EQ(CreateVersion1(VIRTUAL_STORAGE_TYPE_DEVICE_VHD, vhd, 512), 0u);
  const std::string plain = folder.path + "/attached-by-hand.img";
  ASSERT_EQ(RunCommand("truncate -s 1M '" + plain + "'"), 0);
  struct Case {
    const std::string* path;
    ULONG deviceId;
    DWORD code;
  } cases[] = {{&vhdx, VIRTUAL_STORAGE_TYPE_DEVICE_VHDX, 0},
               {&vhdx, VIRTUAL_STORAGE_TYPE_DEVICE_VHD, ERROR_VIRTDISK_NOT_VIRTUAL_DISK},
               {&vhd, VIRTUAL_STORAGE_TYPE_DEVICE_VHD, 0},
               {&vhd, VIRTUAL_STORAGE_TYPE_DEVICE_VHDX, ERROR_VIRTDISK_NOT_VIRTUAL_DISK},
               {&plain, VIRTUAL_STORAGE_TYPE_DEVICE_VHD, 0},
               {&plain, VIRTUAL_STORAGE_TYPE_DEVICE_VHDX, ERROR_VIRTDISK_NOT_VIRTUAL_DISK}};
  for (const Case& c : cases) {
    const std::wstring path(c.path->begin(), c.path->end());
    HANDLE handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenDisk(c.deviceId, path, VIRTUAL_DISK_ACCESS_DETACH, &handle), c.code)
        << *c.path << " as type " << c.deviceId;
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
}

}  // namespace
