// Attaching VHD files as loop devices and detaching them again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "LoopTestScratch.h"
#include "NeedsRoot.h"
#include "linux/support/kernel/loop_device.h"
#include "win32.h"

namespace {

using loop_test::AttachScratchVhd;
using loop_test::DetachVhd;
using loop_test::DriveNumber;
using loop_test::LoopScratch;
using loop_test::ReadLine;

class LoopDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    ASSERT_TRUE(scratch.Ready());
  }
  std::string Sys(int number, const std::string& name) {
    return ReadLine("/sys/block/loop" + std::to_string(number) + "/" + name);
  }
  // Attaches a small scratch disk ("disk.vhd"), sets `drive` to its drive
  // and opens the disk's file again; the handle is the caller's to close.
  HANDLE AttachAndOpen(std::wstring& drive) {
    HANDLE disk = INVALID_HANDLE_VALUE;
    EXPECT_EQ(AttachScratchVhd(scratch.WidePath("disk.vhd"), 8ull << 20, 512, &drive), 0u);
    VIRTUAL_STORAGE_TYPE type = loop_test::VhdStorageType();
    EXPECT_EQ(OpenVirtualDisk(&type, scratch.WidePath("disk.vhd").c_str(),
                              VIRTUAL_DISK_ACCESS_DETACH, OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr,
                              &disk),
              0u);
    return disk;
  }
  LoopScratch scratch;
};

struct AttachCase {
  uint64_t size;
  ULONG sectorSize;
};

class LoopAttachTest : public LoopDeviceTest, public ::testing::WithParamInterface<AttachCase> {};

TEST_P(LoopAttachTest, GivesADriveOfTheDiskSizeAndSectorSize) {
  std::wstring drive;
  ASSERT_EQ(AttachScratchVhd(scratch.WidePath("disk.vhd"), GetParam().size,
                             GetParam().sectorSize, &drive),
            0u);
  const int number = DriveNumber(drive);
  ASSERT_GE(number, 0) << "no drive number";
  ASSERT_EQ(scratch.DiskLoops(), std::vector<int>{number});
  EXPECT_EQ(Sys(number, "queue/logical_block_size"), std::to_string(GetParam().sectorSize));
  EXPECT_EQ(Sys(number, "loop/autoclear"), "0");
  EXPECT_EQ(Sys(number, "loop/sizelimit"), std::to_string(GetParam().size));
  EXPECT_EQ(Sys(number, "ro"), "0");
  const int fd = open(("/dev/loop" + std::to_string(number)).c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  uint64_t bytes = 0;
  EXPECT_EQ(ioctl(fd, BLKGETSIZE64, &bytes), 0);
  close(fd);
  EXPECT_EQ(bytes, GetParam().size) << "the footer must stay outside the drive";
  EXPECT_EQ(DetachVhd(scratch.WidePath("disk.vhd")), 0u);
  EXPECT_TRUE(scratch.DiskLoops().empty());
}

INSTANTIATE_TEST_SUITE_P(Disks, LoopAttachTest,
                         ::testing::Values(AttachCase{64ull << 20, 512},
                                           AttachCase{64ull << 20, 4096},
                                           AttachCase{(32ull << 20) + 4096, 4096}));

TEST_F(LoopDeviceTest, WritesThroughTheDriveLandInTheFileBeforeTheFooter) {
  std::wstring drive;
  const uint64_t size = 8ull << 20;
  ASSERT_EQ(AttachScratchVhd(scratch.WidePath("disk.vhd"), size, 512, &drive), 0u);
  HANDLE handle = CreateFileW(drive.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
  std::vector<uint8_t> block(4096, 0xA5);
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size - block.size());
  ASSERT_TRUE(SetFilePointerEx(handle, position, nullptr, FILE_BEGIN));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(handle, block.data(), 4096, &written, nullptr));
  EXPECT_FALSE(WriteFile(handle, block.data(), 4096, &written, nullptr) && written != 0)
      << "wrote past the end of the drive";
  CloseHandle(handle);
  ASSERT_EQ(DetachVhd(scratch.WidePath("disk.vhd")), 0u);
  const int fd = open(scratch.Path("disk.vhd").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> tail(4096 + 8);
  EXPECT_EQ(pread(fd, tail.data(), tail.size(), static_cast<off_t>(size - 4096)),
            static_cast<ssize_t>(tail.size()));
  close(fd);
  EXPECT_EQ(std::vector<uint8_t>(tail.begin(), tail.begin() + 4096), block);
  EXPECT_EQ(std::string(tail.begin() + 4096, tail.end()), "conectix");
}

TEST_F(LoopDeviceTest, AnAttachedDiskIsNotAttachedTwice) {
  std::wstring drive;
  HANDLE disk = AttachAndOpen(drive);
  ASSERT_NE(disk, INVALID_HANDLE_VALUE);
  EXPECT_NE(AttachVirtualDisk(disk, nullptr, ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME, 0,
                              nullptr, nullptr),
            0u);
  CloseHandle(disk);
  EXPECT_EQ(scratch.DiskLoops().size(), 1u);
}

TEST_F(LoopDeviceTest, PhysicalPathNeedsRoomForItsText) {
  std::wstring drive;
  HANDLE disk = AttachAndOpen(drive);
  ASSERT_NE(disk, INVALID_HANDLE_VALUE);
  WCHAR buffer[64];
  const ULONG needed = static_cast<ULONG>((drive.size() + 1) * sizeof(WCHAR));
  ULONG bytes = needed - 1;
  EXPECT_EQ(GetVirtualDiskPhysicalPath(disk, &bytes, buffer),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(bytes, needed);
  bytes = needed;
  EXPECT_EQ(GetVirtualDiskPhysicalPath(disk, &bytes, buffer), 0u);
  EXPECT_EQ(std::wstring(buffer), drive);
  CloseHandle(disk);
}

TEST_F(LoopDeviceTest, DetachingADiskThatIsNotAttachedFails) {
  std::wstring drive;
  ASSERT_EQ(AttachScratchVhd(scratch.WidePath("disk.vhd"), 8ull << 20, 512, &drive), 0u);
  ASSERT_EQ(DetachVhd(scratch.WidePath("disk.vhd")), 0u);
  SetLastError(ERROR_BUSY);
  const DWORD code = DetachVhd(scratch.WidePath("disk.vhd"));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_NOT_FOUND));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY)) << "returned, not set";
  HANDLE handle = CreateFileW(drive.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << "the drive is still there";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The cleanup sweep detaches a disk while it still holds the drive open: the
// loop goes when that last handle is closed.
// As on Windows, every other handle to the disk must be closed before it
// can be detached.
TEST_F(LoopDeviceTest, AnOpenDriveIsDetachedOnlyOnceItIsClosed) {
  std::wstring drive;
  ASSERT_EQ(AttachScratchVhd(scratch.WidePath("disk.vhd"), 8ull << 20, 512, &drive), 0u);
  HANDLE handle = CreateFileW(drive.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(DetachVhd(scratch.WidePath("disk.vhd")), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(scratch.DiskLoops().size(), 1u);
  CloseHandle(handle);
  EXPECT_EQ(DetachVhd(scratch.WidePath("disk.vhd")), 0u);
  for (int wait = 0; wait < 100 && !scratch.DiskLoops().empty(); ++wait) usleep(10000);
  EXPECT_TRUE(scratch.DiskLoops().empty());
}

TEST_F(LoopDeviceTest, AttachingIsDeniedWithoutRoot) {
  VIRTUAL_STORAGE_TYPE type = loop_test::VhdStorageType();
  CREATE_VIRTUAL_DISK_PARAMETERS parameters;
  memset(&parameters, 0, sizeof(parameters));
  parameters.Version = CREATE_VIRTUAL_DISK_VERSION_1;
  parameters.Version1.MaximumSize = 8ull << 20;
  parameters.Version1.SectorSizeInBytes = 512;
  HANDLE disk = INVALID_HANDLE_VALUE;
  ASSERT_EQ(CreateVirtualDisk(&type, scratch.WidePath("disk.vhd").c_str(),
                              VIRTUAL_DISK_ACCESS_ALL, nullptr, CREATE_VIRTUAL_DISK_FLAG_NONE, 0,
                              &parameters, nullptr, &disk),
            0u);
  ASSERT_EQ(seteuid(65534), 0);
  SetLastError(ERROR_BUSY);
  const DWORD code = AttachVirtualDisk(disk, nullptr, ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME,
                                       0, nullptr, nullptr);
  const DWORD lastError = GetLastError();
  ASSERT_EQ(seteuid(0), 0);
  CloseHandle(disk);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(lastError, static_cast<DWORD>(ERROR_BUSY)) << "returned, not set";
  EXPECT_TRUE(scratch.DiskLoops().empty());
}

}  // namespace
