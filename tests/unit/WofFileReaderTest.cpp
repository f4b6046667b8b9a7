#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "WofCorpus.h"
#include "compression/WofFileReader.h"

namespace {
using Bytes = std::vector<uint8_t>;

// A stream in memory that counts its reads.
struct MemorySource : WofStreamSource {
  Bytes bytes;
  int reads = 0;
  int ReadAt(uint64_t offset, void* buffer, size_t length) override {
    reads++;
    if (offset > bytes.size() || length > bytes.size() - offset) return 38;
    std::memcpy(buffer, bytes.data() + offset, length);
    return 0;
  }
};

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The bytes of KIND and SIZE, and their stream compressed by wimlib.
void Make(const TempFolder& folder, int algorithm, const char* kind, uint64_t size, Bytes& file,
          Bytes& stream) {
  std::string raw = folder.path + "/raw", packed = folder.path + "/packed";
  ASSERT_EQ(wof_generate(kind, size, raw.c_str()), 0);
  ASSERT_EQ(wof_compress(algorithm, raw.c_str(), packed.c_str()), 0);
  file = Load(raw);
  stream = Load(packed);
}

WofInfo InfoOf(int algorithm) {
  uint32_t words[6] = {0x80000017, 16, 1, 2, 1, static_cast<uint32_t>(algorithm)};
  WofInfo info;
  EXPECT_EQ(ParseWofReparsePoint(words, sizeof(words), info), kWofOk);
  return info;
}

TEST(WofFileReader, ReadsEveryAlgorithmAndSizeWholeAndAtRandomRanges) {
  TempFolder folder;
  std::mt19937_64 random(7);
  for (int algorithm = 0; algorithm < 4; algorithm++) {
    uint64_t chunk = InfoOf(algorithm).chunkSize;
    struct Case {
      const char* kind;
      uint64_t size;
    } cases[] = {{"text", 0},         {"text", 1},         {"text", chunk - 1},
                 {"text", chunk},     {"mixed", 3 << 20 | 1}, {"random", 3 * chunk + 5}};
    for (const Case& c : cases) {
      Bytes file, stream;
      Make(folder, algorithm, c.kind, c.size, file, stream);
      MemorySource source;
      source.bytes = stream;
      WofFileReader reader(source, stream.size(), InfoOf(algorithm), file.size());
      Bytes out(file.size() + 100);
      size_t done = 0;
      ASSERT_EQ(reader.Read(0, out.data(), out.size(), done), kWofOk) << c.kind << c.size;
      ASSERT_EQ(done, file.size());
      ASSERT_TRUE(std::equal(file.begin(), file.end(), out.begin())) << algorithm << c.kind;
      for (int i = 0; i < 200 && !file.empty(); i++) {
        uint64_t offset = random() % file.size();
        size_t length = random() % (3 * chunk);
        ASSERT_EQ(reader.Read(offset, out.data(), length, done), kWofOk);
        ASSERT_EQ(done, std::min<uint64_t>(length, file.size() - offset));
        ASSERT_EQ(std::memcmp(out.data(), file.data() + offset, done), 0) << offset;
      }
    }
  }
}

TEST(WofFileReader, DecompressesOnlyTheChunksARangeTouchesAndKeepsThem) {
  TempFolder folder;
  Bytes file, stream;
  Make(folder, 0, "text", 1 << 20, file, stream);
  MemorySource source;
  source.bytes = stream;
  WofFileReader reader(source, stream.size(), InfoOf(0), file.size());
  uint8_t byte[2];
  size_t done;
  ASSERT_EQ(reader.Read(600000, byte, 1, done), kWofOk);
  EXPECT_EQ(byte[0], file[600000]);
  EXPECT_EQ(source.reads, 3);  // two offsets of the table, one chunk
  ASSERT_EQ(reader.Read(600001, byte, 2, done), kWofOk);
  EXPECT_EQ(source.reads, 3);
}

TEST(WofFileReader, FailsDamagedStreamsWithTheirResult) {
  TempFolder folder;
  Bytes file, stream;
  Make(folder, 0, "text", 100000, file, stream);  // 25 chunks, a table of 24 offsets
  struct Case {
    const char* what;
    size_t streamSize;
    uint64_t fileSize;
    size_t patchAt;
    uint32_t patch;
    WofResult result;
  } cases[] = {
      {"cut short", stream.size() - 10, file.size(), 0, 0, kWofBadChunk},
      {"reads cut short", stream.size() + 10, file.size(), 0, 0, kWofStreamReadFailed},
      {"cut into the table", 50, file.size(), 0, 0, kWofBadChunkTable},
      {"longer than its stream", stream.size(), file.size() + 100, 0, 0, kWofBadChunk},
      {"shorter than its stream", stream.size(), file.size() - 100, 0, 0, kWofBadChunk},
      {"offset going back", stream.size(), file.size(), 4 * 10, 5, kWofBadChunkTable},
      {"offset past the end", stream.size(), file.size(), 4 * 23, 0x7FFFFFFF, kWofBadChunkTable},
      {"chunk larger than its size", stream.size(), file.size(), 4 * 3, 60000, kWofBadChunkTable},
  };
  for (const Case& c : cases) {
    MemorySource source;
    source.bytes.assign(stream.begin(), stream.begin() + std::min(c.streamSize, stream.size()));
    if (c.patchAt) std::memcpy(source.bytes.data() + c.patchAt, &c.patch, 4);
    WofFileReader reader(source, c.streamSize, InfoOf(0), c.fileSize);
    Bytes out(c.fileSize);
    size_t done = 12345;
    EXPECT_EQ(reader.Read(0, out.data(), out.size(), done), c.result) << c.what;
    EXPECT_EQ(done, 0u) << c.what;
  }
}

// A file of 4 GiB or more has 8-byte offsets, a smaller one 4-byte ones.
// Every chunk is the same compressed chunk, the table made up as it is read.
struct RepeatedChunkSource : WofStreamSource {
  Bytes chunk;
  uint64_t count = 0;
  unsigned entry = 4;
  int ReadAt(uint64_t offset, void* buffer, size_t length) override {
    uint64_t table = (count - 1) * entry;
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < length; i++, offset++) {
      if (offset < table) {
        uint64_t value = (offset / entry + 1) * chunk.size();
        out[i] = static_cast<uint8_t>(value >> (8 * (offset % entry)));
      } else {
        out[i] = chunk[(offset - table) % chunk.size()];
      }
    }
    return 0;
  }
};

TEST(WofFileReader, ReadsEightByteOffsetsFromFourGibibytesOn) {
  TempFolder folder;
  Bytes chunk, stream;
  Make(folder, 1, "text", 32768, chunk, stream);
  for (uint64_t size : {(4ull << 30) - 32768, 4ull << 30, (4ull << 30) + 32768}) {
    RepeatedChunkSource source;
    source.chunk.assign(stream.begin(), stream.end());
    source.count = size / 32768;
    source.entry = size >= (4ull << 30) ? 8 : 4;
    uint64_t streamSize = (source.count - 1) * source.entry + source.count * stream.size();
    WofFileReader reader(source, streamSize, InfoOf(1), size);
    Bytes out(40000);
    size_t done;
    ASSERT_EQ(reader.Read(size - out.size(), out.data(), out.size(), done), kWofOk) << size;
    EXPECT_EQ(std::memcmp(out.data() + out.size() - 32768, chunk.data(), 32768), 0) << size;
  }
}
}  // namespace
