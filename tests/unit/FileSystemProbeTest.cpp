// The file system a partition holds, told from the first bytes of volumes
// that the real formatting tools made.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "TempFolder.h"
#include "volumes/FileSystemProbe.h"

namespace {

struct ProbeCase {
  std::string format;  // the command, given the file's path at the end
  std::wstring name;
};

class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, NamesTheFormattedFileSystem) {
  TempFolder folder;
  std::string volume = folder.path + "/volume";
  { std::ofstream(volume).close(); }
  ASSERT_EQ(std::system(("truncate -s 64M " + volume).c_str()), 0);
  ASSERT_EQ(RunCommand(GetParam().format + " " + volume), 0);
  std::vector<uint8_t> first(kProbeBytes);
  std::ifstream(volume, std::ios::binary).read(reinterpret_cast<char*>(first.data()), kProbeBytes);
  EXPECT_EQ(std::wstring(FileSystemName(first.data(), first.size())), GetParam().name);
  // A short read (a tiny partition) sees no ext superblock and reads no further.
  if (GetParam().name.rfind(L"ext", 0) == 0) {
    EXPECT_EQ(std::wstring(FileSystemName(first.data(), 1024)), L"none");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Probe,
    ::testing::Values(ProbeCase{"mkfs.vfat", L"FAT"}, ProbeCase{"mkfs.vfat -F 32", L"FAT"},
                      ProbeCase{"mkfs.vfat -F 12", L"FAT"},
                      ProbeCase{"mkntfs -Q -F", L"NTFS"}, ProbeCase{"mkfs.exfat", L"exFAT"},
                      ProbeCase{"mkfs.ext4 -F", L"ext4"}, ProbeCase{"mkfs.ext3 -F", L"ext3"},
                      ProbeCase{"mkfs.ext2 -F", L"ext2"}, ProbeCase{"true", L"none"}));

}  // namespace
