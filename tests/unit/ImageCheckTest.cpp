// The check of a whole image file on the hash pool, on FFU files that
// ffu-pack made from a disk of random bytes, some with chunks spoiled.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "StdoutCapture.h"
#include "TempFolder.h"
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

// 14 MiB of random data on a 16 MiB disk: several pieces of 4 MiB, so that
// the pool hashes pieces side by side.
TEST_P(WholeImageCheck, FindsExactlyTheSpoiledChunks) {
  const CheckCase& c = GetParam();
  TempFolder folder;
  std::string disk = folder.path + "/disk.img", ffu = folder.path + "/disk.ffu";
  std::string command = "(truncate -s 16M " + disk + " && sgdisk -n 1:2048:0 -c 1:MainOS " + disk +
                        " && dd if=/dev/urandom of=" + disk +
                        " bs=1M seek=1 count=14 conv=notrunc && " + FFU_PACK_PATH + " " +
                        c.options;
  for (uint32_t chunk : c.damaged) command += " --damage-chunk " + std::to_string(chunk);
  ASSERT_EQ(RunCommand(command + " " + disk + " " + ffu + ")"), 0);

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
