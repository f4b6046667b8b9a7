// Round trips through ffu-pack: a real GPT disk image made with sgdisk is
// packed, read back by the FFU reader and rebuilt from the payload.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/ManifestCategory.h"
#include "ffu/StoreReader.h"
#include "Commands.h"
#include "FfuFileHelpers.h"
#include "StdoutCapture.h"
#include "TempFolder.h"

#ifndef FFU_PACK_PATH
#error "the build gives the unit tests the path of ffu-pack"
#endif

namespace {

constexpr uint64_t kDiskSize = 4 << 20;

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A 4 MiB GPT disk with two partitions and scattered data in them.
bool MakeDisk(const std::string& path) {
  if (RunCommand("truncate -s " + std::to_string(kDiskSize) + " " + path) != 0) return false;
  if (RunCommand("sgdisk -n 1:2048:+1M -c 1:MainOS -n 2:0:0 -c 2:Data " + path) != 0) return false;
  std::fstream disk(path, std::ios::binary | std::ios::in | std::ios::out);
  const uint64_t offsets[] = {1 << 20, (1 << 20) + 4096, (1 << 20) + 8192 + 100, 2 << 20,
                              (3 << 20) + 65536 - 1};
  for (uint64_t offset : offsets) {
    std::string text = "data at " + std::to_string(offset);
    disk.seekp(static_cast<std::streamoff>(offset));
    disk.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  return disk.good();
}

// The "name offset" lines of ffu-pack --print-layout.
std::map<std::string, uint64_t> ReadLayout(const std::string& path) {
  std::map<std::string, uint64_t> layout;
  std::ifstream in(path);
  std::string name;
  uint64_t offset = 0;
  while (in >> name >> offset) layout[name] = offset;
  return layout;
}

size_t CountDataBlocks(const std::vector<char>& disk, uint32_t blockSize) {
  size_t count = 0;
  for (size_t at = 0; at < disk.size(); at += blockSize) {
    bool zero = true;
    for (size_t i = at; i < at + blockSize && zero; ++i) zero = disk[i] == 0;
    if (!zero) ++count;
  }
  return count;
}

struct PackCase {
  const char* options;
  uint32_t blockSize;
  bool merged;
  uint32_t locations;
  uint32_t copyOffset;
  bool minSectorCount;
  const char* output = "";  // what loading prints
  ChunkVerifier::Plan plan = ChunkVerifier::kChecking;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const PackCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.options)); }

const char kNoChunkWarning[] =
    "(Korvex) !WARNING! SecurityPadding: Neither of the headers has been "
    "initialized with a chunk size.\n";

class FfuPackRoundTrip : public testing::TestWithParam<PackCase> {};

TEST_P(FfuPackRoundTrip, ReadsBackIntoTheSameDisk) {
  const PackCase& c = GetParam();
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  std::string diskPath = folder.path + "/disk.img";
  std::string ffuPath = folder.path + "/disk.ffu";
  ASSERT_TRUE(MakeDisk(diskPath));
  std::string layoutPath = folder.path + "/layout.txt";
  ASSERT_EQ(std::system((std::string(FFU_PACK_PATH) + " --print-layout " + c.options + " " + diskPath +
                         " " + ffuPath + " >" + layoutPath + " 2>/dev/null")
                            .c_str()),
            0)
      << c.options;
  std::map<std::string, uint64_t> layout = ReadLayout(layoutPath);
  std::vector<char> disk = ReadAll(diskPath);
  ASSERT_EQ(disk.size(), kDiskSize);

  FfuImage image;
  StoreReader reader;
  StdoutCapture capture;
  std::wstring widePath(ffuPath.begin(), ffuPath.end());
  int loadResult = image.Load(widePath);
  int storeResult = loadResult == 0 ? reader.LoadStore(&image) : -1;
  std::string output = capture.Finish();
  ASSERT_EQ(loadResult, 0) << output;
  ASSERT_EQ(storeResult, 0) << output;
  EXPECT_EQ(output, c.output);

  // Where ffu-pack says the parts begin is where the reader finds them.
  const StoreDescription* store = image.FirstStore();
  EXPECT_EQ(store->storeOffset, layout["store-header"]);
  EXPECT_EQ(FilePosition(image.File()), layout["payload"]);
  EXPECT_EQ(std::filesystem::file_size(ffuPath) - layout["payload"], layout["payload-bytes"]);
  EXPECT_EQ(layout["block-size"], c.blockSize);
  EXPECT_EQ(store->sectorSize, 512u);
  EXPECT_EQ(store->minSectorCount, c.minSectorCount ? kDiskSize / 512 : 0u);
  ManifestCategory* fullFlash = image.GetManifest()->FindCategory("FullFlash");
  ASSERT_NE(fullFlash, nullptr);
  EXPECT_NE(fullFlash->GetValue("Description").find("\r\n"), std::string::npos);
  EXPECT_EQ(image.GetManifest()->Categories().size(), 1u) << "Store and Partition stay unlisted";
  ASSERT_EQ(reader.BlockSize(), c.blockSize);

  // Rebuild the disk from the payload, placing every block by its first
  // location; blocks of a merged entry follow one another on the disk.
  std::vector<char> rebuilt(kDiskSize, 0);
  std::vector<char> block(c.blockSize);
  size_t payloadBlocks = 0;
  bool sawBackupBlock = false;
  uint64_t filePosition = reader.PayloadOffset();
  for (const BlockDataEntry& entry : reader.Entries()) {
    ASSERT_EQ(entry.locations.size(), c.locations);
    const TargetLocation& first = entry.locations[0];
    if (c.locations == 2) {
      EXPECT_EQ(entry.locations[1].origin, first.origin);
      EXPECT_EQ(entry.locations[1].blockIndex, first.blockIndex + c.copyOffset);
    }
    if (!c.merged || first.origin == kOriginDiskEnd) {
      EXPECT_EQ(entry.blockCount, 1u);
    }
    for (uint32_t i = 0; i < entry.blockCount; ++i) {
      DWORD got = 0;
      ASSERT_TRUE(ReadFile(image.File(), block.data(), c.blockSize, &got, nullptr));
      ASSERT_EQ(got, c.blockSize);
      image.ChunkCheck().Feed(filePosition, reinterpret_cast<const uint8_t*>(block.data()), got);
      filePosition += got;
      uint64_t offset = first.origin == kOriginDiskEnd
                            ? kDiskSize - (static_cast<uint64_t>(first.blockIndex) + 1) * c.blockSize
                            : (static_cast<uint64_t>(first.blockIndex) + i) * c.blockSize;
      sawBackupBlock = sawBackupBlock || (first.origin == kOriginDiskEnd && first.blockIndex == 0);
      ASSERT_LE(offset + c.blockSize, kDiskSize);
      std::copy(block.begin(), block.end(), rebuilt.begin() + static_cast<std::ptrdiff_t>(offset));
      ++payloadBlocks;
    }
  }
  DWORD got = 1;
  ASSERT_TRUE(ReadFile(image.File(), block.data(), 1, &got, nullptr));
  EXPECT_EQ(got, 0u) << "the payload ends the file";
  // The table ffu-pack wrote matches every chunk the readers passed on.
  image.ChunkCheck().Finish();
  EXPECT_EQ(image.ChunkCheck().GetPlan(), c.plan);
  EXPECT_EQ(image.ChunkCheck().Checking(), c.plan == ChunkVerifier::kChecking);
  EXPECT_EQ(image.ChunkCheck().DamagedCount(), 0u);
  EXPECT_TRUE(sawBackupBlock);
  EXPECT_EQ(payloadBlocks, CountDataBlocks(disk, c.blockSize));
  if (c.merged) {
    EXPECT_LT(reader.Entries().size(), payloadBlocks);
  }
  EXPECT_TRUE(rebuilt == disk);
}

INSTANTIATE_TEST_SUITE_P(
    Options, FfuPackRoundTrip,
    testing::Values(PackCase{"", 131072, false, 1, 0, true},
                    PackCase{"--block-size 4096 --chunk-kb 4", 4096, false, 1, 0, true},
                    PackCase{"--block-size 4096 --merge-runs", 4096, true, 1, 0, true},
                    PackCase{"--block-size 65536 --two-locations --copy-offset 3", 65536, false,
                             2, 3, true},
                    PackCase{"--store-version 2 --validation-size 300 --block-size 8192", 8192,
                             false, 1, 0, true},
                    PackCase{"--chunk-kb 0 --no-min-sector-count --block-size 16384", 16384, false,
                             1, 0, false, kNoChunkWarning, ChunkVerifier::kNoChunkSize},
                    PackCase{"--catalog-size 70000 --hash-table-size 0 --chunk-kb 64", 131072,
                             false, 1, 0, true, "", ChunkVerifier::kWrongHashCount},
                    PackCase{"--catalog-size 70000 --chunk-kb 64", 131072, false, 1, 0, true},
                    PackCase{"--block-size 4096 --chunk-kb 1", 4096, false, 1, 0, true},
                    PackCase{"--hash-algorithm 32772", 131072, false, 1, 0, true, "",
                             ChunkVerifier::kUnknownAlgorithm}));

// Reads a packed file as the mount does and lists the chunks the check finds
// damaged.
std::vector<uint32_t> DamagedChunksOf(const std::string& ffuPath, uint32_t* chunkCount) {
  FfuImage image;
  StoreReader reader;
  testing::internal::CaptureStdout();
  std::wstring widePath(ffuPath.begin(), ffuPath.end());
  bool loaded = image.Load(widePath) == 0 && reader.LoadStore(&image) == 0;
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(image.ChunkCheck().Checking());
  std::vector<uint8_t> rest(1 << 16);
  uint64_t position = reader.PayloadOffset();
  DWORD got = 0;
  while (ReadFile(image.File(), rest.data(), static_cast<DWORD>(rest.size()), &got, nullptr) &&
         got > 0) {
    image.ChunkCheck().Feed(position, rest.data(), got);
    position += got;
  }
  image.ChunkCheck().Finish();
  EXPECT_TRUE(image.ChunkCheck().Checking());
  *chunkCount = image.ChunkCheck().ChunkCount();
  return image.ChunkCheck().FirstDamaged();
}

// Damaged chunks: the first (image header and manifest), one of the store
// header, blocks and padding, and the last, shorter one.
TEST(FfuPackDamage, FlipsOneByteInEachChunkNamed) {
  TempFolder folder;
  std::string diskPath = folder.path + "/disk.img";
  std::string ffuPath = folder.path + "/disk.ffu";
  ASSERT_TRUE(MakeDisk(diskPath));
  // One signing time for both packs: the catalog's would differ when they
  // fall on two sides of a second.
  const std::string pack = "SOURCE_DATE_EPOCH=1700000000 " + std::string(FFU_PACK_PATH) +
                           " --block-size 4096 --chunk-kb 3 ";
  ASSERT_EQ(RunCommand(pack + diskPath + " " + ffuPath), 0);
  uint32_t chunks = 0;
  EXPECT_EQ(DamagedChunksOf(ffuPath, &chunks), std::vector<uint32_t>());
  ASSERT_GT(chunks, 3u);
  std::vector<char> intact = ReadAll(ffuPath);
  const std::vector<uint32_t> damaged = {0, 2, chunks - 1};
  ASSERT_EQ(RunCommand(pack + "--damage-chunk 0 --damage-chunk 2 --damage-chunk " +
                       std::to_string(chunks - 1) + " " + diskPath + " " + ffuPath),
            0);
  EXPECT_EQ(DamagedChunksOf(ffuPath, &chunks), damaged);
  std::vector<char> changed = ReadAll(ffuPath);
  ASSERT_EQ(changed.size(), intact.size());
  size_t differing = 0;
  for (size_t i = 0; i < intact.size(); ++i) differing += intact[i] != changed[i];
  EXPECT_EQ(differing, damaged.size());
  EXPECT_NE(RunCommand(pack + "--damage-chunk " + std::to_string(chunks) + " " + diskPath + " " +
                       ffuPath),
            0);
}

struct RefusedCase {
  const char* options;
  uint64_t diskSize;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const RefusedCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.options)); }

class FfuPackRefusal : public testing::TestWithParam<RefusedCase> {};

TEST_P(FfuPackRefusal, FailsAndWritesNothing) {
  const RefusedCase& c = GetParam();
  TempFolder folder;
  std::string diskPath = folder.path + "/disk.img";
  std::string ffuPath = folder.path + "/disk.ffu";
  ASSERT_TRUE(MakeDisk(diskPath));
  ASSERT_EQ(RunCommand("truncate -s " + std::to_string(c.diskSize) + " " + diskPath), 0);
  EXPECT_NE(RunCommand(std::string(FFU_PACK_PATH) + " " + c.options + " " + diskPath + " " + ffuPath), 0)
      << c.options;
  EXPECT_FALSE(std::filesystem::exists(ffuPath)) << c.options;
}

INSTANTIATE_TEST_SUITE_P(
    Options, FfuPackRefusal,
    testing::Values(RefusedCase{"", kDiskSize + 512},
                    RefusedCase{"--block-size 1000", kDiskSize},
                    RefusedCase{"--block-size 0", kDiskSize},
                    RefusedCase{"--sector-size 0", kDiskSize},
                    RefusedCase{"--store-version 3", kDiskSize},
                    RefusedCase{"--bogus", kDiskSize},
                    RefusedCase{"--block-size", kDiskSize}));

}  // namespace
