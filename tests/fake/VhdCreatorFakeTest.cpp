// VHD creation and attachment when a virtual disk call fails, on a substitute
// platform. The virtual disk calls return their error without setting the
// thread's last error, so the lines must report the returned code, not what an
// earlier call left behind.
#include <cstring>

#include "FakeSystem.h"
#include "vdisk/VhdCreator.h"

extern "C" BOOL __real_CloseHandle(HANDLE);

namespace {
const HANDLE kVirtualDisk = reinterpret_cast<HANDLE>(0x7100);
const HANDLE kDrive = reinterpret_cast<HANDLE>(0x7200);
// What a failed creation may leave in the handle: no handle of anybody's.
const HANDLE kUndefined = reinterpret_cast<HANDLE>(0x7300);
const wchar_t kVhdPath[] = L"/tmp/kmd7.vhd";
// On Windows a redirected print leaves this behind.
const DWORD kStaleError = ERROR_INVALID_HANDLE;

// Folder: the temporary folder is refused before the sweep; Sweep: its one
// drive cannot be opened.
enum class FailingCall { None, Folder, Sweep, Create, Attach, PhysicalPath, OpenDrive };

struct VirtualDiskCase {
  const char* name;
  FailingCall call;
  DWORD code;
  const char* lines;
  DWORD folderAttributes = FILE_ATTRIBUTE_DIRECTORY;  // the temporary folder's
};

class VhdCreation : public FakeSystemTest, public ::testing::WithParamInterface<VirtualDiskCase> {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    // No drives (Sweep: one), so that the sweep before the creation finds nothing to do.
    Fake().queryDosDevice = [this](LPCWSTR, LPWSTR target, DWORD max) -> DWORD {
      ++sweepQueries;
      const bool one = GetParam().call == FailingCall::Sweep;
      const std::wstring names = one ? std::wstring(L"PhysicalDrive0\0\0", 16) : std::wstring(2, 0);
      return max < names.size() ? 0 : static_cast<DWORD>(names.copy(target, names.size()));
    };
    Fake().fileAttributes = [this](LPCWSTR path) -> DWORD {
      return std::wstring(path) == L"/tmp/" ? GetParam().folderAttributes : FILE_ATTRIBUTE_NORMAL;
    };
    const FailingCall failing = GetParam().call;
    const DWORD code = GetParam().code;
    Fake().createVirtualDisk = [this, failing, code](PCWSTR path,
                                                     PCREATE_VIRTUAL_DISK_PARAMETERS parameters,
                                                     PHANDLE handle) -> DWORD {
      EXPECT_EQ(std::wstring(path), kVhdPath);
      EXPECT_EQ(parameters->Version1.SectorSizeInBytes, 512u);
      if (failing == FailingCall::Create) {
        *handle = kUndefined;
        return code;
      }
      *handle = kVirtualDisk;
      ++openHandles;
      return 0;
    };
    Fake().attachVirtualDisk = [failing, code](HANDLE handle) -> DWORD {
      EXPECT_EQ(handle, kVirtualDisk);
      return failing == FailingCall::Attach ? code : 0;
    };
    Fake().getVirtualDiskPhysicalPath = [failing, code](HANDLE, ULONG* size, LPWSTR path) -> DWORD {
      if (failing == FailingCall::PhysicalPath) return code;
      const wchar_t drive[] = L"\\\\.\\PhysicalDrive9";
      EXPECT_GE(*size, sizeof(drive));
      std::memcpy(path, drive, sizeof(drive));
      return 0;
    };
    Fake().createFile = [this, failing, code](LPCWSTR path) -> HANDLE {
      if (failing == FailingCall::Sweep) return SetLastError(code), INVALID_HANDLE_VALUE;
      EXPECT_EQ(std::wstring(path), L"\\\\.\\PhysicalDrive9");
      if (failing == FailingCall::OpenDrive) {
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
      }
      ++openHandles;
      return kDrive;
    };
    Fake().closeHandle = [this](HANDLE handle) -> BOOL {
      if (handle == kUndefined) return static_cast<BOOL>(++undefinedCloses);
      if (handle != kDrive && handle != kVirtualDisk) return __real_CloseHandle(handle);
      if (handle != kDrive) --openHandles;
      return TRUE;
    };
    // The new disk, offline and read-only where `diskAttributes` says so.
    Fake().deviceIoControl = [this](HANDLE handle, DWORD request, LPVOID buffer, DWORD,
                                    LPDWORD) -> BOOL {
      EXPECT_EQ(handle, kDrive);
      if (request == IOCTL_DISK_GET_DISK_ATTRIBUTES) {
        static_cast<GET_DISK_ATTRIBUTES*>(buffer)->Attributes = diskAttributes;
        return TRUE;
      }
      EXPECT_EQ(request, static_cast<DWORD>(IOCTL_DISK_SET_DISK_ATTRIBUTES));
      const auto* change = static_cast<const SET_DISK_ATTRIBUTES*>(buffer);
      EXPECT_EQ(change->Version, sizeof(SET_DISK_ATTRIBUTES));
      diskAttributes = (diskAttributes & ~change->AttributesMask) |
                       (change->Attributes & change->AttributesMask);
      return TRUE;
    };
  }
  int openHandles = 0;
  int undefinedCloses = 0;
  int sweepQueries = 0;
  ULONGLONG diskAttributes = 0;
};

// Every disk here arrives offline and read-only (the policy of server
// editions): a disk that is made is brought online and made writable before
// anything is copied onto it, and only those two attributes change.
TEST_P(VhdCreation, ReportsTheCodeTheCallReturned) {
  HANDLE disk = INVALID_HANDLE_VALUE;
  diskAttributes = DISK_ATTRIBUTE_OFFLINE | DISK_ATTRIBUTE_READ_ONLY | 0x8;
  SetLastError(kStaleError);
  EXPECT_EQ(CreateAndAttachVhd(disk, 512, 1 << 20, kVhdPath), static_cast<int>(GetParam().code));
  EXPECT_EQ(Output(), GetParam().lines);
  if (GetParam().call == FailingCall::None) {
    EXPECT_EQ(disk, kDrive);
    EXPECT_EQ(openHandles, 1) << "only the drive stays open";
    EXPECT_EQ(diskAttributes, 0x8u) << "online and writable";
  } else {
    EXPECT_EQ(disk, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openHandles, 0) << "the virtual disk handle is closed";
    EXPECT_EQ(undefinedCloses, 0) << "a failed creation's handle is not closed";
  }
  EXPECT_EQ(sweepQueries != 0, GetParam().call != FailingCall::Folder) << "swept";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, VhdCreation,
    ::testing::Values(
        VirtualDiskCase{"all_succeed", FailingCall::None, 0, ""},
        VirtualDiskCase{"encrypted_folder", FailingCall::Folder, 165,
                        "(Korvex) !ERROR! The temporary folder '/tmp/' is encrypted, and a "
                        "virtual disk cannot be attached from an encrypted file; set TMP to a "
                        "folder that is not encrypted.\n",
                        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ENCRYPTED},
        // The sweep's error is said once, not again by the creation.
        VirtualDiskCase{"sweep", FailingCall::Sweep, ERROR_ACCESS_DENIED,
                        "!ERROR! Access is denied.\r\n\n"},
        VirtualDiskCase{"create", FailingCall::Create, ERROR_FILE_EXISTS,
                        "(Korvex) !ERROR! Failed to create vdisk.\n"
                        "!ERROR! The file exists.\r\n\"/tmp/kmd7.vhd\"\n"},
        VirtualDiskCase{"attach", FailingCall::Attach, ERROR_SHARING_VIOLATION,
                        "failed to attach vdisk...err 0x20\n"
                        "!ERROR! The process cannot access the file because it is being used by "
                        "another process.\r\n\n"},
        VirtualDiskCase{"physical_path", FailingCall::PhysicalPath, ERROR_NOT_FOUND,
                        "failed to get vhd physical info 1168\n"
                        "!ERROR! Element not found.\r\n\n"},
        // Attached, but the drive cannot be opened: no disk to copy onto.
        VirtualDiskCase{"open_drive", FailingCall::OpenDrive, ERROR_ACCESS_DENIED,
                        "!ERROR! Access is denied.\r\n\"\\\\.\\PhysicalDrive9\"\n"}),
    [](const ::testing::TestParamInfo<VirtualDiskCase>& info) {
      return std::string(info.param.name);
    });
}  // namespace
