// The Linux layer's virtual disk calls fail as Windows does: they return the
// Win32 code and leave the thread's last error as it was, so a caller that
// reports GetLastError() after them reports a stale code and is caught here.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "TempFolder.h"
#include "win32.h"

namespace {

// Left by an earlier call; none of the calls below may touch it. Bit 29
// marks a code of the application's own, which no system call sets.
const DWORD kEarlierError = 0x20000123;

VIRTUAL_STORAGE_TYPE VhdType() {
  VIRTUAL_STORAGE_TYPE type;
  std::memset(&type, 0, sizeof(type));
  type.DeviceId = VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
  return type;
}

DWORD Create(const std::wstring& path, uint64_t size, ULONG sectorSize, HANDLE* handle) {
  VIRTUAL_STORAGE_TYPE type = VhdType();
  CREATE_VIRTUAL_DISK_PARAMETERS parameters;
  std::memset(&parameters, 0, sizeof(parameters));
  parameters.Version = CREATE_VIRTUAL_DISK_VERSION_1;
  parameters.Version1.MaximumSize = size;
  parameters.Version1.SectorSizeInBytes = sectorSize;
  return CreateVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL, nullptr,
                           CREATE_VIRTUAL_DISK_FLAG_NONE, 0, &parameters, nullptr, handle);
}

DWORD Open(const std::wstring& path, HANDLE* handle) {
  VIRTUAL_STORAGE_TYPE type = VhdType();
  return OpenVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_DETACH,
                         OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, handle);
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
    ASSERT_EQ(Create(folder + L"/unattached.vhd", 4 << 20, 512, &vhd), 0u);
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
                      return Create(folder + L"/big.vhd", 4 << 20, 4096, &handle);
                    }},
        // The service makes no disk under 3 MB and no VHD over 2040 GiB.
        FailingCall{"create_under_3_mb", ERROR_INVALID_PARAMETER,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return Create(folder + L"/small.vhd", (3 << 20) - 512, 512, &handle);
                    }},
        FailingCall{"create_vhd_over_2040_gib", ERROR_INVALID_PARAMETER,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return Create(folder + L"/huge.vhd", (2040ull << 30) + 512, 512, &handle);
                    }},
        FailingCall{"create_over_an_existing_file", ERROR_FILE_EXISTS,
                    [](const std::wstring& folder, HANDLE) {
                      HANDLE handle = INVALID_HANDLE_VALUE;
                      return Create(folder + L"/unattached.vhd", 4 << 20, 512, &handle);
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

}  // namespace
