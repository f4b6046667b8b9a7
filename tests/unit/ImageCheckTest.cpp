// The check of a whole image file on the hash pool, and checked reads at any
// offset, on FFU files that ffu-pack made from a disk of random bytes, some
// with chunks spoiled.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Commands.h"
#include "StdoutCapture.h"
#include "TempFolder.h"
#include "ffu/ChunkedFileReader.h"
#include "ffu/DamageReport.h"
#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/ImageCheck.h"
#include "ffu/StoreReader.h"

namespace {

struct CheckCase {
  const char* name;
  const char* options;            // for ffu-pack
  std::vector<uint32_t> damaged;  // chunks ffu-pack spoils
  bool truncate;                  // the file loses its second half once loaded
  int result;
  const char* lastLine;           // how the output's last line begins
};
void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

class WholeImageCheck : public testing::TestWithParam<CheckCase> {};

// Packs a disk of `mib` MiB whose one partition holds random bytes with
// ffu-pack's `options`; returns the image's path, or "" when it failed.
std::string PackRandomDisk(const TempFolder& folder, int mib, const std::string& options) {
  const std::string disk = folder.path + "/disk.img", ffu = folder.path + "/disk.ffu";
  const int made = RunCommand("(truncate -s " + std::to_string(mib) + "M " + disk +
                              " && sgdisk -n 1:2048:0 -c 1:MainOS " + disk +
                              " && dd if=/dev/urandom of=" + disk + " bs=1M seek=1 count=" +
                              std::to_string(mib - 2) + " conv=notrunc && " + FFU_PACK_PATH + " " +
                              options + " " + disk + " " + ffu + ")");
  return made == 0 ? ffu : "";
}

// 14 MiB of random data on a 16 MiB disk: several pieces of 4 MiB, so that
// the pool hashes pieces side by side.
TEST_P(WholeImageCheck, FindsExactlyTheSpoiledChunks) {
  const CheckCase& c = GetParam();
  TempFolder folder;
  std::string options = c.options;
  for (uint32_t chunk : c.damaged) options += " --damage-chunk " + std::to_string(chunk);
  const std::string ffu = PackRandomDisk(folder, 16, options);
  ASSERT_FALSE(ffu.empty());

  FfuImage image;
  StoreReader reader;
  StdoutCapture capture;
  ASSERT_EQ(image.Load(std::wstring(ffu.begin(), ffu.end())), 0);
  ASSERT_EQ(reader.LoadStore(&image), 0);
  if (c.truncate) {
    ASSERT_EQ(::truncate(ffu.c_str(), static_cast<off_t>(image.FileSize() / 2)), 0);
  }
  DamageReport report(image, reader, DiskSectorCount(*image.FirstStore()), {}, false);
  int result = CheckWholeImage(image, report);
  std::string output = capture.Finish();

  EXPECT_EQ(result, c.result) << output;
  std::string last = output.substr(output.rfind('\n', output.size() - 2) + 1);
  EXPECT_EQ(last.rfind(c.lastLine, 0), 0u) << output;
  if (c.result == kImageIntact || c.result == kImageDamaged) {
    EXPECT_EQ(image.ChunkCheck().FirstDamaged(), c.damaged);
  }
  size_t at = 0;
  for (uint32_t chunk : c.damaged) {
    at = output.find("!WARNING! Chunk " + std::to_string(chunk) + " (file bytes ", at);
    EXPECT_NE(at, std::string::npos) << "no line for chunk " << chunk << " in order:\n" << output;
  }
  if (c.result != kImageIntact && c.result != kImageDamaged) return;
  // Reads of 128 KiB in order, now and then one further back: a read that
  // touches a spoiled chunk fails, every other has the file's bytes, also in
  // the windows read ahead while earlier reads were served.
  std::ifstream in(ffu, std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  const uint64_t start = image.ChunkCheck().RegionStart(), size = image.ChunkCheck().ChunkSize();
  ChunkedFileReader checked(image);
  std::vector<uint8_t> bytes(128 << 10);
  StdoutCapture quiet;
  for (uint64_t n = 0, piece = bytes.size(); n * piece < file.size(); ++n) {
    for (uint64_t offset : {n * piece, n % 37 == 36 ? n * piece / 2 : n * piece}) {
      const uint64_t length = std::min<uint64_t>(piece, file.size() - offset);
      const bool bad = std::any_of(c.damaged.begin(), c.damaged.end(), [&](uint64_t k) {
        return start + k * size < offset + length && offset < start + (k + 1) * size;
      });
      ASSERT_EQ(checked.Read(offset, bytes.data(), length), bad ? ERROR_CRC : 0u) << offset;
      ASSERT_TRUE(bad || std::equal(bytes.begin(), bytes.begin() + length, &file[offset]))
          << offset;
    }
  }
  EXPECT_EQ(checked.Damaged(), c.damaged);
}

// After a long run of reads in order, a run that starts elsewhere reads what
// it wants: the windows read ahead of the first run are not followed on.
TEST(CheckedReads, ARunThatGoesElsewhereLeavesTheWindowsReadAheadBehind) {
  TempFolder folder;
  const std::string ffu = PackRandomDisk(folder, 48, "");
  ASSERT_FALSE(ffu.empty());
  FfuImage image;
  ASSERT_EQ(image.Load(std::wstring(ffu.begin(), ffu.end())), 0);
  ChunkedFileReader checked(image);
  std::vector<uint8_t> bytes(128 << 10);
  auto bytesRead = [] {  // by the whole process
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value && key != "rchar:") continue;
    return value;
  };
  const uint64_t before = bytesRead();
  for (uint64_t start : {0u, 40u << 20})
    for (uint64_t at = start; at < start + (start == 0 ? 8u : 2u) * (1u << 20); at += bytes.size())
      ASSERT_EQ(checked.Read(at, bytes.data(), bytes.size()), 0u);
  // The first run's windows to 8 MiB and the two read ahead, 20 MiB; the
  // second's grow to 2 MiB, 4 MiB.
  EXPECT_LT(bytesRead() - before, 28u << 20);
  // Cut short, the file fails reads as a file that ends, not as damage, also
  // where the windows read ahead found it cut.
  ASSERT_EQ(::truncate(ffu.c_str(), 30 << 20), 0);
  DWORD error = 0;
  for (uint64_t at = 20u << 20; at < (40u << 20) && error == 0; at += bytes.size())
    error = checked.Read(at, bytes.data(), bytes.size());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_HANDLE_EOF));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WholeImageCheck,
    testing::Values(
        CheckCase{"intact", "", {}, false, kImageIntact, "(Korvex) The image matches"},
        CheckCase{"small chunks, first, middle and last spoiled", "--block-size 4096 --chunk-kb 3",
                  {0, 2000, 4500}, false, kImageDamaged, "(Korvex) !WARNING! The image is damaged: 3 of"},
        CheckCase{"chunks larger than a piece", "--chunk-kb 5120", {1, 2}, false, kImageDamaged,
                  "(Korvex) !WARNING! The image is damaged: 2 of"},
        CheckCase{"no chunk size", "--chunk-kb 0", {}, false, kImageUncheckable,
                  "(Korvex) !ERROR! Failed to check the image file."},
        CheckCase{"file cut short after loading", "", {}, true, kImageUnreadable,
                  "(Korvex) !ERROR! Failed to check the image file."}));

}  // namespace
