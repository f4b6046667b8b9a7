// Damaged VHDX files read by the layer (support/formats/vhdx_read.cpp): each damage
// is found, or outlived where the format keeps a second copy.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "VirtualDisks.h"
#include "formats/Crc32c.h"
#include "linux/support/formats/vhdx.h"
#include "win32.h"

namespace {

constexpr uint64_t kHeader1 = kVhdxHeaderOffsets[0];
constexpr uint64_t kHeader2 = kVhdxHeaderOffsets[1];
constexpr uint64_t kRegionTable1 = kVhdxRegionTableOffsets[0];
constexpr uint64_t kRegionTable2 = kVhdxRegionTableOffsets[1];
constexpr uint64_t kDiskSize = 96ull << 20;  // three 32 MiB blocks

void Flip(const std::string& path, uint64_t offset) {
  uint8_t byte = 0;
  ASSERT_TRUE(ReadBytes(path, offset, &byte, 1));
  byte ^= 0x5A;
  ASSERT_TRUE(WriteBytes(path, offset, &byte, 1));
}

void PutU64(const std::string& path, uint64_t offset, uint64_t value) {
  ASSERT_TRUE(WriteBytes(path, offset, &value, 8));  // the test machine is little-endian
}

// Rewrites a header's checksum after a change, so only the change is wrong.
void Reseal(const std::string& path, uint64_t header) {
  std::vector<uint8_t> bytes(kVhdxHeaderSize);
  ASSERT_TRUE(ReadBytes(path, header, bytes.data(), bytes.size()));
  memset(&bytes[kVhdxChecksumOffset], 0, 4);
  const uint32_t crc = Crc32c(bytes.data(), bytes.size());
  ASSERT_TRUE(WriteBytes(path, header + kVhdxChecksumOffset, &crc, 4));
}

struct Damage {
  const char* name;
  std::function<void(const std::string&, const VhdxLayout&)> apply;
  DWORD code;
};

void PrintTo(const Damage& d, std::ostream* out) { *out << d.name; }

class VhdxDamageTest : public testing::TestWithParam<Damage> {};

TEST_P(VhdxDamageTest, IsFoundOrOutlived) {
  TempFolder folder;
  const std::string path = folder.path + "/kmd2.vhdx";
  ASSERT_EQ(VhdxCreateFile(path, kDiskSize, 4096, 4096, 0), 0u);
  const VhdxLayout layout = VhdxLayout::For(kDiskSize, 4096, 4096, 0);
  GetParam().apply(path, layout);
  VhdxDisk disk;
  EXPECT_EQ(VhdxOpenFile(path, &disk), GetParam().code);
  if (GetParam().code == 0) {
    EXPECT_EQ(disk.dataOffset, layout.dataOffset);
  }
}

const DWORD kNotVhdx = ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
const DWORD kUnmappable = ERROR_NOT_SUPPORTED;

INSTANTIATE_TEST_SUITE_P(
    Files, VhdxDamageTest,
    testing::Values(
        Damage{"first header broken", [](auto& p, auto&) { Flip(p, kHeader1 + 100); }, 0},
        Damage{"second header broken", [](auto& p, auto&) { Flip(p, kHeader2 + 100); }, 0},
        Damage{"both headers broken",
               [](auto& p, auto&) {
                 Flip(p, kHeader1 + 100);
                 Flip(p, kHeader2 + 100);
               },
               kNotVhdx},
        Damage{"first region table broken", [](auto& p, auto&) { Flip(p, kRegionTable1 + 20); },
               0},
        Damage{"both region tables broken",
               [](auto& p, auto&) {
                 Flip(p, kRegionTable1 + 20);
                 Flip(p, kRegionTable2 + 20);
               },
               kNotVhdx},
        Damage{"file signature", [](auto& p, auto&) { Flip(p, 3); }, kNotVhdx},
        Damage{"a log to replay",
               [](auto& p, auto&) {
                 for (uint64_t header : {kHeader1, kHeader2}) {
                   PutU64(p, header + offsetof(VhdxHeader, logId), 0x1122334455667788ull);
                   Reseal(p, header);
                 }
               },
               kUnmappable},
        Damage{"a payload block not present",
               [](auto& p, auto& l) { PutU64(p, l.batOffset + kVhdxBatEntrySize, 0); },
               kUnmappable},
        Damage{"a payload block elsewhere",
               [](auto& p, auto& l) {
                 const uint64_t moved = l.dataOffset + 2 * (32ull << 20) + (1 << 20);
                 PutU64(p, l.batOffset + 2 * kVhdxBatEntrySize,
                        kVhdxPayloadFullyPresent | (moved >> 20) << kVhdxFileOffsetShift);
               },
               kUnmappable},
        Damage{"logical sector size 1024",
               [](auto& p, auto& l) {
                 const uint32_t odd = 1024;
                 // The writer puts the values after the table, in the order of their items.
                 const uint64_t value = kVhdxMetadataTableSize + sizeof(VhdxFileParameters) +
                                        sizeof(uint64_t) + sizeof(DiskGuid);
                 ASSERT_TRUE(WriteBytes(p, l.metadataOffset + value, &odd, 4));
               },
               kNotVhdx},
        Damage{"metadata signature",
               [](auto& p, auto& l) { Flip(p, l.metadataOffset); }, kNotVhdx},
        Damage{"cut short",
               [](auto& p, auto& l) {
                 ASSERT_EQ(truncate(p.c_str(), static_cast<off_t>(l.dataOffset + kDiskSize - 4096)),
                           0);
               },
               kNotVhdx}));

}  // namespace
