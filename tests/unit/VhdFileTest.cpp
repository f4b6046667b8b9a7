// Fixed VHD files made by CreateVirtualDisk, checked on disk and by the
// common VHD tools.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>
#include <string>

#include "LoopTestScratch.h"
#include "linux/support/formats/vhd.h"
#include "win32.h"

namespace {

using loop_test::CommandOutput;
using loop_test::LoopScratch;

VIRTUAL_STORAGE_TYPE VhdType() {
  VIRTUAL_STORAGE_TYPE type;
  memset(&type, 0, sizeof(type));
  type.DeviceId = VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
  return type;
}

DWORD CreateVhd(const std::wstring& path, uint64_t size, ULONG sectorSize, HANDLE* handle) {
  VIRTUAL_STORAGE_TYPE type = VhdType();
  CREATE_VIRTUAL_DISK_PARAMETERS parameters;
  memset(&parameters, 0, sizeof(parameters));
  parameters.Version = CREATE_VIRTUAL_DISK_VERSION_1;
  parameters.Version1.MaximumSize = size;
  parameters.Version1.SectorSizeInBytes = sectorSize;
  *handle = INVALID_HANDLE_VALUE;
  return CreateVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL, nullptr,
                           CREATE_VIRTUAL_DISK_FLAG_NONE, 0, &parameters, nullptr, handle);
}

class VhdFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.Ready()); }
  LoopScratch scratch;
};

TEST_F(VhdFileTest, IsASparseDiskFollowedByTheFooter) {
  const uint64_t size = 256ull << 20;
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), size, 512, &handle), 0u);
  CloseHandle(handle);
  struct stat status;
  ASSERT_EQ(stat(scratch.Path("disk.vhd").c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size), size + kVhdFooterSize);
  EXPECT_LT(static_cast<uint64_t>(status.st_blocks) * 512, 1ull << 20) << "not sparse";
  uint64_t diskSize = 0;
  uint32_t sectorSize = 0;
  ASSERT_EQ(VhdOpenFile(scratch.Path("disk.vhd"), &diskSize, &sectorSize), 0u);
  EXPECT_EQ(diskSize, size);
  EXPECT_EQ(sectorSize, 512u);
}

TEST_F(VhdFileTest, KeepsTheSectorSizeOutsideTheFooter) {
  ASSERT_EQ(VhdCreateFile(scratch.Path("big.vhd"), 64ull << 20, 4096), 0u);
  char text[16] = {};
  ASSERT_GT(getxattr(scratch.Path("big.vhd").c_str(), "user.brackwen.sector_size", text,
                     sizeof(text) - 1), 0);
  EXPECT_STREQ(text, "4096");
  uint64_t diskSize = 0;
  uint32_t sectorSize = 0;
  ASSERT_EQ(VhdOpenFile(scratch.Path("big.vhd"), &diskSize, &sectorSize), 0u);
  EXPECT_EQ(sectorSize, 4096u);
}

TEST_F(VhdFileTest, AnExistingFileIsNotReplaced) {
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), 4ull << 20, 512, &handle), 0u);
  CloseHandle(handle);
  EXPECT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), 8ull << 20, 512, &handle),
            static_cast<DWORD>(ERROR_FILE_EXISTS));
  struct stat status;
  ASSERT_EQ(stat(scratch.Path("disk.vhd").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, (4 << 20) + 512);
}

struct BadSize {
  uint64_t size;
  ULONG sectorSize;
};

class VhdBadSizeTest : public VhdFileTest, public ::testing::WithParamInterface<BadSize> {};

TEST_P(VhdBadSizeTest, IsRefusedWithoutAFile) {
  HANDLE handle;
  EXPECT_EQ(CreateVhd(scratch.WidePath("bad.vhd"), GetParam().size, GetParam().sectorSize,
                      &handle),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  struct stat status;
  EXPECT_NE(stat(scratch.Path("bad.vhd").c_str(), &status), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, VhdBadSizeTest,
                         ::testing::Values(BadSize{0, 512}, BadSize{1000, 512},
                                           BadSize{(1 << 20) + 512, 4096},
                                           BadSize{1 << 20, 1024},
                                           // A VHD has 512-byte sectors, as on Windows.
                                           BadSize{1 << 20, 4096}));

TEST_F(VhdFileTest, OpeningAMissingFileFailsWithFileNotFound) {
  VIRTUAL_STORAGE_TYPE type = VhdType();
  HANDLE handle = INVALID_HANDLE_VALUE;
  EXPECT_EQ(OpenVirtualDisk(&type, scratch.WidePath("none.vhd").c_str(),
                            VIRTUAL_DISK_ACCESS_DETACH, OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr,
                            &handle),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
}

// A fixed disk has nothing at its start to probe, so the format is named.
// qemu sizes a disk of an unknown creator by its CHS geometry: the first size
// is one that the geometry covers exactly (960 cylinders, 8 heads, 17
// sectors); the second check asks for the footer's size instead.
TEST_F(VhdFileTest, QemuImgReadsItAsAVhdOfItsSize) {
  const uint64_t exact = 960ull * 8 * 17 * 512;
  const uint64_t any = 64ull << 20;
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("exact.vhd"), exact, 512, &handle), 0u);
  CloseHandle(handle);
  ASSERT_EQ(CreateVhd(scratch.WidePath("any.vhd"), any, 512, &handle), 0u);
  CloseHandle(handle);
  const std::string plain =
      CommandOutput("qemu-img info -f vpc --output=json '" + scratch.Path("exact.vhd") + "'");
  EXPECT_NE(plain.find("\"format\": \"vpc\""), std::string::npos) << plain;
  EXPECT_NE(plain.find("\"virtual-size\": " + std::to_string(exact) + ","), std::string::npos)
      << plain;
  const std::string footerSized = CommandOutput(
      "qemu-img info --output=json --image-opts "
      "driver=vpc,force_size_calc=current_size,file.filename='" +
      scratch.Path("any.vhd") + "'");
  EXPECT_NE(footerSized.find("\"virtual-size\": " + std::to_string(any) + ","), std::string::npos)
      << footerSized;
}

TEST_F(VhdFileTest, VhdiinfoReadsItAsAFixedDiskOfItsSize) {
  const uint64_t size = 100ull << 20;
  HANDLE handle;
  ASSERT_EQ(CreateVhd(scratch.WidePath("disk.vhd"), size, 512, &handle), 0u);
  CloseHandle(handle);
  const std::string output = CommandOutput("vhdiinfo '" + scratch.Path("disk.vhd") + "'");
  EXPECT_NE(output.find("Fixed"), std::string::npos) << output;
  EXPECT_NE(output.find(std::to_string(size) + " bytes"), std::string::npos) << output;
}

}  // namespace
