// The check of an image against its hash table: when a table can be used,
// and which chunks a feed of the file's bytes finds damaged, however the
// readers cut the bytes up and on whichever thread they are fed.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "ffu/ChunkHashPool.h"
#include "ffu/ChunkVerifier.h"

namespace {

constexpr uint64_t kRegionStart = 8192;  // where the image header would be

// Bytes that differ from chunk to chunk and within each chunk.
std::vector<uint8_t> MakeBytes(size_t length) {
  std::vector<uint8_t> bytes(length);
  uint32_t state = 12345;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

// The table as an image maker writes it, computed with libcrypto directly.
std::vector<uint8_t> MakeTable(const std::vector<uint8_t>& region, size_t chunk) {
  std::vector<uint8_t> table;
  for (size_t at = 0; at < region.size(); at += chunk) {
    uint8_t digest[32];
    unsigned int length = 0;
    EVP_Digest(region.data() + at, std::min(chunk, region.size() - at), digest, &length,
               EVP_sha256(), nullptr);
    table.insert(table.end(), digest, digest + 32);
  }
  return table;
}

struct PlanCase {
  const char* name;
  uint32_t algorithm;
  uint32_t chunkKb;
  uint64_t tableBytes;
  uint64_t regionLength;
  ChunkVerifier::Plan plan;
  const char* line;  // what PrintPlan says
};
void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

class CheckPlan : public testing::TestWithParam<PlanCase> {};

TEST_P(CheckPlan, TheTableMustHoldOneHashForEachChunk) {
  const PlanCase& c = GetParam();
  std::vector<uint8_t> table(c.tableBytes, 0);
  ChunkVerifier check;
  EXPECT_EQ(check.Start(c.algorithm, c.chunkKb, table, kRegionStart, kRegionStart + c.regionLength),
            c.plan);
  EXPECT_EQ(check.Checking(), c.plan == ChunkVerifier::kChecking);
  testing::internal::CaptureStdout();
  check.PrintPlan();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckPlan,
    testing::Values(
        PlanCase{"whole chunks", 0x800C, 4, 3 * 32, 3 * 4096, ChunkVerifier::kChecking, ""},
        PlanCase{"a last short chunk counts", 0x800C, 4, 4 * 32, 3 * 4096 + 1,
                 ChunkVerifier::kChecking, ""},
        PlanCase{"no image region, no hashes", 0x800C, 4, 0, 0, ChunkVerifier::kChecking, ""},
        PlanCase{"one hash short", 0x800C, 4, 3 * 32, 3 * 4096 + 1, ChunkVerifier::kWrongHashCount,
                 "(Korvex) !WARNING! The image cannot be checked: its hash table of 96 bytes does "
                 "not hold one hash for each of its 4 chunks.\n"},
        PlanCase{"one hash too many", 0x800C, 4, 4 * 32, 3 * 4096, ChunkVerifier::kWrongHashCount,
                 "(Korvex) !WARNING! The image cannot be checked: its hash table of 128 bytes does "
                 "not hold one hash for each of its 3 chunks.\n"},
        PlanCase{"not whole hashes", 0x800C, 4, 3 * 32 + 1, 3 * 4096,
                 ChunkVerifier::kWrongHashCount,
                 "(Korvex) !WARNING! The image cannot be checked: its hash table of 97 bytes does "
                 "not hold one hash for each of its 3 chunks.\n"},
        PlanCase{"SHA-1", 0x8004, 4, 3 * 20, 3 * 4096, ChunkVerifier::kUnknownAlgorithm,
                 "(Korvex) !WARNING! The image cannot be checked: its hash algorithm 0x8004 is not "
                 "known.\n"},
        PlanCase{"no algorithm", 0, 4, 3 * 32, 3 * 4096, ChunkVerifier::kUnknownAlgorithm,
                 "(Korvex) !WARNING! The image cannot be checked: its hash algorithm 0x0 is not "
                 "known.\n"},
        PlanCase{"chunk size 0", 0x800C, 0, 0, 3 * 4096, ChunkVerifier::kNoChunkSize,
                 "(Korvex) !WARNING! The image cannot be checked: its chunk size is 0.\n"},
        PlanCase{"4 GiB chunks", 0x800C, 4u << 20, 32, 3 * 4096, ChunkVerifier::kChecking, ""}));

TEST(CheckPlan, TheBenchmarkSwitchTurnsTheCheckOffAndSaysSo) {
  std::vector<uint8_t> table(32, 0);
  ASSERT_EQ(setenv("BRACKWEN_BENCH_NO_CHECK", "1", 1), 0);
  ChunkVerifier check;
  EXPECT_EQ(check.Start(0x800C, 4, table, kRegionStart, kRegionStart + 4096),
            ChunkVerifier::kSwitchedOff);
  unsetenv("BRACKWEN_BENCH_NO_CHECK");
  EXPECT_FALSE(check.Checking());
  testing::internal::CaptureStdout();
  check.PrintPlan();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "(Korvex) !WARNING! The image is not checked against its hash table: "
            "BRACKWEN_BENCH_NO_CHECK is set.\n");
}

struct FeedCase {
  const char* name;
  size_t regionLength;
  size_t piece;                    // bytes per Feed
  std::vector<uint32_t> damaged;   // chunks with a flipped byte
};
void PrintTo(const FeedCase& c, std::ostream* out) { *out << c.name; }

constexpr size_t kChunk = 4096;

class ChunkFeed : public testing::TestWithParam<FeedCase> {
 protected:
  // The region as the readers would see it: the table is made from the
  // intact bytes, then the named chunks get a flipped byte each.
  void SetUp() override {
    region = MakeBytes(GetParam().regionLength);
    table = MakeTable(region, kChunk);
    for (uint32_t chunk : GetParam().damaged)
      region[std::min(region.size() - 1, chunk * kChunk + 100)] ^= 0x01;
    ASSERT_EQ(check.Start(0x800C, kChunk / 1024, table, kRegionStart,
                          kRegionStart + region.size()),
              ChunkVerifier::kChecking);
  }
  std::vector<uint8_t> region;
  std::vector<uint8_t> table;
  ChunkVerifier check;
};

TEST_P(ChunkFeed, FindsExactlyTheDamagedChunks) {
  const FeedCase& c = GetParam();
  for (size_t at = 0; at < region.size(); at += c.piece)
    check.Feed(kRegionStart + at, region.data() + at, std::min(c.piece, region.size() - at));
  check.Finish();
  EXPECT_TRUE(check.Checking());
  EXPECT_EQ(check.DamagedCount(), c.damaged.size());
  EXPECT_EQ(check.FirstDamaged(), c.damaged);
  EXPECT_EQ(check.ChunkCount(), (region.size() + kChunk - 1) / kChunk);
}

TEST_P(ChunkFeed, GivesTheSameVerdictHashedOnThePool) {
  const FeedCase& c = GetParam();
  {
    // Buffers in turn, as the payload copy uses them: a buffer is refilled
    // only once the pool is done with it.
    const size_t count = ChunkHashPool::ThreadsWanted() + 1;
    std::vector<std::vector<uint8_t>> buffers(count, std::vector<uint8_t>(c.piece));
    ChunkHashPool pool(&check, static_cast<uint32_t>(count));
    ASSERT_GE(pool.Threads(), 2u);
    for (size_t at = 0, n = 0; at < region.size(); at += c.piece, ++n) {
      std::vector<uint8_t>& buffer = buffers[n % count];
      if (n >= count) pool.WaitFor(n - count);
      size_t length = std::min(c.piece, region.size() - at);
      std::copy(region.begin() + at, region.begin() + at + length, buffer.begin());
      pool.Post(kRegionStart + at, buffer.data(), length);
    }
    pool.WaitAll();
  }
  check.Finish();
  EXPECT_TRUE(check.Checking());
  EXPECT_EQ(check.DamagedCount(), c.damaged.size());
  EXPECT_EQ(check.FirstDamaged(), c.damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkFeed,
    testing::Values(FeedCase{"intact, whole chunks", 4 * kChunk, kChunk, {}},
                    FeedCase{"intact, byte by byte", 2 * kChunk + 7, 1, {}},
                    FeedCase{"first chunk, pieces across chunk ends", 4 * kChunk, 1000, {0}},
                    FeedCase{"short last chunk", 3 * kChunk + 200, 3 * kChunk + 200, {3}},
                    FeedCase{"two chunks, pieces of several chunks", 6 * kChunk, 2 * kChunk + 1,
                             {1, 4}},
                    FeedCase{"every chunk", 3 * kChunk, 512, {0, 1, 2}},
                    FeedCase{"many ranges in flight", 40 * kChunk + 9, 3 * kChunk + 5,
                             {0, 7, 8, 21, 40}}));

// A check of an intact region of two chunks, started and fed nothing yet.
class ChunkFeedOrder : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(check.Start(0x800C, 4, table, kRegionStart, kRegionStart + region.size()),
              ChunkVerifier::kChecking);
  }
  std::vector<uint8_t> region = MakeBytes(2 * kChunk);
  std::vector<uint8_t> table = MakeTable(region, kChunk);
  ChunkVerifier check;
};

TEST_F(ChunkFeedOrder, ARangeThatSkipsBytesEndsTheCheckAndSaysSo) {
  check.Feed(kRegionStart, region.data(), 100);
  check.Feed(kRegionStart + 200, region.data() + 200, 100);  // 100 bytes left out
  EXPECT_FALSE(check.Checking());
  testing::internal::CaptureStdout();
  check.PrintBroken();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "(Korvex) !WARNING! The image cannot be checked: it was not read in file order.\n");
}

TEST_F(ChunkFeedOrder, AFileThatWasNotReadToItsEndIsNotCalledChecked) {
  check.Feed(kRegionStart, region.data(), kChunk + 10);
  check.Finish();
  EXPECT_FALSE(check.Checking());
}

TEST(ChunkFeedCount, ListsTheFirstDamagedChunksAndCountsThemAll) {
  const size_t chunks = ChunkVerifier::kKeptDamaged + 10;
  std::vector<uint8_t> region = MakeBytes(chunks * kChunk);
  std::vector<uint8_t> table(chunks * 32, 0);  // no chunk matches
  ChunkVerifier check;
  ASSERT_EQ(check.Start(0x800C, 4, table, kRegionStart, kRegionStart + region.size()),
            ChunkVerifier::kChecking);
  check.Feed(kRegionStart, region.data(), region.size());
  check.Finish();
  EXPECT_EQ(check.DamagedCount(), chunks);
  ASSERT_EQ(check.FirstDamaged().size(), ChunkVerifier::kKeptDamaged);
  EXPECT_EQ(check.FirstDamaged().back(), ChunkVerifier::kKeptDamaged - 1);
}

}  // namespace
