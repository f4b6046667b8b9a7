// The store header and its table of block data entries, read from real
// files behind a valid container.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "FfuFileHelpers.h"
#include "ImageInternals.h"
#include "StdoutCapture.h"
#include "TempFolder.h"
#include "ffu/FfuImage.h"
#include "ffu/FfuLayout.h"
#include "ffu/StoreReader.h"

namespace {

constexpr uint64_t kStoreOffset = 8192;  // with 4 KiB chunks and a short manifest

// Security region and image region with 4 KiB chunks; the store header
// starts at 8192.
std::vector<uint8_t> Container(uint32_t sectorSize) {
  ContainerShape shape;
  shape.securityChunkKb = 4;
  shape.imageChunkKb = 4;
  shape.manifest = "[Store]\r\nSectorSize = " + std::to_string(sectorSize) + "\r\n";
  shape.storeBytes = 0;
  std::vector<uint8_t> bytes = BuildContainer(shape);
  bytes.resize(kStoreOffset, 0);
  return bytes;
}

struct Location {
  uint32_t origin;
  uint32_t blockIndex;
};
struct Entry {
  uint32_t blockCount;
  std::vector<Location> locations;
};

struct StoreShape {
  uint32_t sectorSize = 512;
  uint32_t blockSize = 4096;
  std::vector<Entry> entries;
  uint32_t declaredEntryCount = 0xFFFFFFFF;  // all ones: entries.size()
  uint32_t validationSize = 0;
  uint16_t majorVersion = 1;
  uint16_t storeCount = 1;
  std::u16string devicePath;
  uint32_t payloadBlocks = 2;  // 0: the file ends right after the table
  uint32_t firstLocationCount = 0xFFFFFFFF;  // all ones: the entry's own
  uint32_t entriesLength = 0xFFFFFFFF;  // all ones: the bytes the entries take
  uint16_t fullFlashVersion = 2;
  uint16_t minorVersion = 0;
  uint32_t validationCount = 1;  // of a non-empty validation area
};

uint32_t EntriesLength(const StoreShape& shape) {
  if (shape.entriesLength != 0xFFFFFFFF) return shape.entriesLength;
  uint32_t length = 0;
  for (const Entry& entry : shape.entries)
    length += 8 + 8 * static_cast<uint32_t>(entry.locations.size());
  return length;
}

std::vector<uint8_t> BuildFfu(const StoreShape& shape) {
  std::vector<uint8_t> bytes = Container(shape.sectorSize);
  StoreHeader header{};
  header.majorVersion = shape.majorVersion;
  header.minorVersion = shape.minorVersion;
  header.fullFlashMajorVersion = shape.fullFlashVersion;
  header.blockSize = shape.blockSize;
  header.entriesLength = EntriesLength(shape);
  header.validationCount = shape.validationSize == 0 ? 0 : shape.validationCount;
  header.entryCount = shape.declaredEntryCount == 0xFFFFFFFF
                          ? static_cast<uint32_t>(shape.entries.size())
                          : shape.declaredEntryCount;
  header.validationLength = shape.validationSize;
  Put(bytes, header);
  if (shape.majorVersion == kStoreVersionWithStoreList) {
    StoreListFields fields{};
    fields.storeCount = shape.storeCount;
    fields.storeIndex = 1;
    fields.storePayloadSize = 0x1000;
    fields.devicePathLength = static_cast<uint16_t>(shape.devicePath.size());
    Put(bytes, fields);
    for (char16_t unit : shape.devicePath) Put(bytes, static_cast<uint16_t>(unit));
  }
  // One validation entry whose data would read as an entry with many
  // locations.
  if (shape.validationSize >= 12) {
    Put(bytes, uint32_t{0});
    Put(bytes, uint32_t{0});
    Put(bytes, shape.validationSize - 12);
  }
  bytes.insert(bytes.end(), shape.validationSize >= 12 ? shape.validationSize - 12 : shape.validationSize, 0x7F);
  for (const Entry& entry : shape.entries) {
    bool first = &entry == &shape.entries.front();
    Put(bytes, BlockEntryRecord{first && shape.firstLocationCount != 0xFFFFFFFF
                                    ? shape.firstLocationCount
                                    : static_cast<uint32_t>(entry.locations.size()),
                                entry.blockCount});
    for (const Location& location : entry.locations)
      Put(bytes, LocationRecord{location.origin, location.blockIndex});
  }
  if (shape.payloadBlocks == 0) return bytes;
  if (shape.blockSize != 0 && bytes.size() % shape.blockSize != 0)
    bytes.resize(bytes.size() + shape.blockSize - bytes.size() % shape.blockSize, 0);
  bytes.resize(bytes.size() + static_cast<size_t>(shape.payloadBlocks) * shape.blockSize, 0x5A);
  return bytes;
}

// Loads the container, then the store; keeps what each printed.
struct LoadedStore {
  FfuImage image;
  StoreReader reader;
  int loadResult = -1;
  int storeResult = -1;
  std::string output;

  explicit LoadedStore(const std::wstring& path) {
    StdoutCapture capture;
    loadResult = image.Load(path);
    if (loadResult == 0) storeResult = reader.LoadStore(&image);
    output = capture.Finish();
  }
};

uint64_t PayloadStart(uint64_t tableEnd, uint32_t blockSize) {
  return (tableEnd + blockSize - 1) / blockSize * blockSize;
}

TEST(StoreReader, EmptyTableLeavesTheFileAtTheNextBlock) {
  TempFolder folder;
  StoreShape shape;
  LoadedStore loaded(folder.Write("empty.ffu", BuildFfu(shape)));
  ASSERT_EQ(loaded.loadResult, 0) << loaded.output;
  ASSERT_EQ(loaded.storeResult, 0) << loaded.output;
  EXPECT_EQ(loaded.reader.EntryCount(), 0u);
  EXPECT_EQ(loaded.reader.BlockSize(), 4096u);
  EXPECT_TRUE(loaded.reader.Entries().empty());
  EXPECT_EQ(FilePosition(loaded.image.File()), PayloadStart(kStoreOffset + 248, 4096));
}

TEST(StoreReader, TableEndingOnABlockBoundarySkipsNoBlock) {
  // 248 + 481 entries of 8 bytes = 4096.
  StoreShape shape;
  shape.entries.assign(481, Entry{0, {}});
  shape.entries[0] = Entry{2, {}};
  TempFolder folder;
  LoadedStore loaded(folder.Write("boundary.ffu", BuildFfu(shape)));
  ASSERT_EQ(loaded.storeResult, 0) << loaded.output;
  ASSERT_EQ(loaded.reader.Entries().size(), 481u);
  EXPECT_EQ(loaded.reader.Entries()[0].blockCount, 2u);
  EXPECT_EQ(loaded.reader.Entries()[0].locations.size(), 0u);
  EXPECT_EQ(loaded.reader.Entries()[480].blockCount, 0u);
  EXPECT_EQ(FilePosition(loaded.image.File()), kStoreOffset + 4096);
}

TEST(StoreReader, LocationsOfMixedOriginsInFileOrder) {
  StoreShape shape;
  shape.entries = {Entry{1, {{0, 0}}},
                  Entry{3, {{2, 0}, {0, 17}, {0, 0xFFFFFFFF}}},
                  Entry{0, {}},
                  Entry{1, {{2, 5}}}};
  TempFolder folder;
  LoadedStore loaded(folder.Write("mixed.ffu", BuildFfu(shape)));
  ASSERT_EQ(loaded.storeResult, 0) << loaded.output;
  ASSERT_EQ(loaded.reader.Entries().size(), shape.entries.size());
  for (size_t i = 0; i < shape.entries.size(); ++i) {
    const BlockDataEntry& read = loaded.reader.Entries()[i];
    EXPECT_EQ(read.blockCount, shape.entries[i].blockCount) << i;
    ASSERT_EQ(read.locations.size(), shape.entries[i].locations.size()) << i;
    for (size_t k = 0; k < read.locations.size(); ++k) {
      EXPECT_EQ(read.locations[k].origin, shape.entries[i].locations[k].origin) << i << "/" << k;
      EXPECT_EQ(read.locations[k].blockIndex, shape.entries[i].locations[k].blockIndex) << i << "/" << k;
    }
  }
  uint64_t tableEnd = kStoreOffset + 248 + 16 + 32 + 8 + 16;
  EXPECT_EQ(FilePosition(loaded.image.File()), PayloadStart(tableEnd, 4096));
}

TEST(StoreReader, ValidationAreaIsSkipped) {
  StoreShape shape;
  shape.validationSize = 100;
  shape.entries = {Entry{1, {{0, 3}}}, Entry{1, {{2, 0}}}};
  TempFolder folder;
  LoadedStore loaded(folder.Write("validation.ffu", BuildFfu(shape)));
  ASSERT_EQ(loaded.storeResult, 0) << loaded.output;
  ASSERT_EQ(loaded.reader.Entries().size(), 2u);
  EXPECT_EQ(loaded.reader.Entries()[0].locations[0].blockIndex, 3u);
  EXPECT_EQ(loaded.reader.Entries()[1].locations[0].origin, 2u);
  EXPECT_EQ(FilePosition(loaded.image.File()), PayloadStart(kStoreOffset + 248 + 100 + 32, 4096));
}

TEST(StoreReader, Version2HeaderWithOneStoreLoadsLikeVersion1) {
  StoreShape shape;
  shape.majorVersion = 2;
  shape.devicePath = u"VenHw(1234)";
  shape.validationSize = 12;
  shape.entries = {Entry{2, {{0, 9}}}};
  TempFolder folder;
  LoadedStore loaded(folder.Write("v2.ffu", BuildFfu(shape)));
  ASSERT_EQ(loaded.storeResult, 0) << loaded.output;
  EXPECT_EQ(loaded.reader.StoreCount(), 1u);
  EXPECT_EQ(loaded.reader.StorePayloadSize(), 0x1000u);
  EXPECT_EQ(std::u16string(loaded.reader.DevicePath().begin(), loaded.reader.DevicePath().end()),
            shape.devicePath);
  ASSERT_EQ(loaded.reader.Entries().size(), 1u);
  EXPECT_EQ(loaded.reader.Entries()[0].blockCount, 2u);
  EXPECT_EQ(loaded.reader.Entries()[0].locations[0].blockIndex, 9u);
  uint64_t tableEnd = kStoreOffset + 248 + 14 + 2 * shape.devicePath.size() + 12 + 16;
  EXPECT_EQ(FilePosition(loaded.image.File()), PayloadStart(tableEnd, 4096));
}

TEST(StoreReader, SecondLoadReadsNothing) {
  StoreShape shape;
  shape.entries = {Entry{1, {{0, 1}}}};
  TempFolder folder;
  LoadedStore loaded(folder.Write("twice.ffu", BuildFfu(shape)));
  ASSERT_EQ(loaded.storeResult, 0) << loaded.output;
  LARGE_INTEGER elsewhere{};
  elsewhere.QuadPart = 100;
  ASSERT_TRUE(SetFilePointerEx(loaded.image.File(), elsewhere, nullptr, FILE_BEGIN));
  ImageInternals::Entries(loaded.reader).clear();
  EXPECT_EQ(loaded.reader.LoadStore(&loaded.image), 0);
  EXPECT_TRUE(loaded.reader.Entries().empty());
  EXPECT_EQ(FilePosition(loaded.image.File()), 100u);
}

struct RefusalCase {
  const char* what;
  StoreShape shape;
  size_t cutBytes;  // bytes removed from the end of the file
  const char* reason;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const RefusalCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.what)); }

StoreShape Shaped(void (*change)(StoreShape&)) {
  StoreShape shape;
  change(shape);
  return shape;
}

class StoreReaderRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(StoreReaderRefusalTest, PrintsOneLineAndFails) {
  const RefusalCase& c = GetParam();
  std::vector<uint8_t> bytes = BuildFfu(c.shape);
  bytes.resize(bytes.size() - c.cutBytes);
  TempFolder folder;
  LoadedStore loaded(folder.Write("refused.ffu", bytes));
  ASSERT_EQ(loaded.loadResult, 0) << c.what << ": " << loaded.output;
  std::string expected =
      std::string("(Korvex) !ERROR! Unable to load the store because ") + c.reason + ".\n";
  EXPECT_EQ(loaded.output, expected) << c.what;
  EXPECT_EQ(loaded.storeResult, static_cast<int>(expected.size())) << c.what;
  EXPECT_EQ(loaded.reader.Image(), &loaded.image) << "bound even after a failure";
}

const char kNotMultiple[] = "its block size is not a multiple of the sector size";
const char kTableTooLong[] = "its block data entries are longer than the file";
const char kLayout[] = "its block data entries have a layout this reader does not know";
const char kValidationLayout[] = "its validation entries have a layout this reader does not know";

INSTANTIATE_TEST_SUITE_P(
    Refusals, StoreReaderRefusalTest,
    testing::Values(
        RefusalCase{"block size 0", Shaped([](StoreShape& s) { s.blockSize = 0; s.payloadBlocks = 0; }), 0,
                    "its block size is 0"},
        RefusalCase{"block size not a multiple", Shaped([](StoreShape& s) { s.blockSize = 4000; }), 0,
                    kNotMultiple},
        RefusalCase{"block size below the sector size",
                    Shaped([](StoreShape& s) { s.sectorSize = 4096; s.blockSize = 2048; }), 0, kNotMultiple},
        RefusalCase{"declared entry length beyond the file",
                    Shaped([](StoreShape& s) { s.declaredEntryCount = 8; s.entriesLength = 0xFFFFFFF0; }),
                    0, kTableTooLong},
        RefusalCase{"entry count beyond the declared length",
                    Shaped([](StoreShape& s) { s.declaredEntryCount = 0x20000000; }), 0, kLayout},
        RefusalCase{"location count beyond the declared length",
                    Shaped([](StoreShape& s) {
                      s.entries = {Entry{1, {{0, 1}}}, Entry{1, {}}};
                      s.firstLocationCount = 0x10000000;
                    }),
                    0, kLayout},
        RefusalCase{"a later entry beyond the declared length",
                    Shaped([](StoreShape& s) { s.entries = {Entry{1, {{0, 1}}}, Entry{1, {}}}; s.entriesLength = 16; }),
                    0, kLayout},
        RefusalCase{"entries of 20 bytes read as 16",
                    Shaped([](StoreShape& s) { s.entries = {Entry{1, {{0, 1}}}}; s.entriesLength = 20; }),
                    0, kLayout},
        RefusalCase{"access method 5",
                    Shaped([](StoreShape& s) { s.entries = {Entry{1, {{0, 1}}}, Entry{1, {{5, 0}}}}; }),
                    0, "block data entry 1 names the access method 5, which this reader does not know"},
        RefusalCase{"compressed image", Shaped([](StoreShape& s) { s.fullFlashVersion = 3; }), 0,
                    "the image is compressed (full flash version 3.0); compressed images cannot be read yet"},
        RefusalCase{"full flash version 1.0", Shaped([](StoreShape& s) { s.fullFlashVersion = 1; }), 0,
                    "its full flash version 1.0 is not one this reader knows (2.0)"},
        RefusalCase{"store header version 3.0", Shaped([](StoreShape& s) { s.majorVersion = 3; }), 0,
                    "its store header version 3.0 is not one this reader knows (1.0 or 2.0)"},
        RefusalCase{"store header version 1.1", Shaped([](StoreShape& s) { s.minorVersion = 1; }), 0,
                    "its store header version 1.1 is not one this reader knows (1.0 or 2.0)"},
        RefusalCase{"validation entries fewer than declared",
                    Shaped([](StoreShape& s) { s.validationSize = 40; s.validationCount = 2; }), 0,
                    kValidationLayout},
        RefusalCase{"validation area without entries",
                    Shaped([](StoreShape& s) { s.validationSize = 8; }), 0, kValidationLayout},
        RefusalCase{"entry cut inside its block count",
                    Shaped([](StoreShape& s) {
                      s.entries = {Entry{1, {}}};
                      s.payloadBlocks = 0;
                    }),
                    2, kTableTooLong},
        RefusalCase{"validation area beyond the file",
                    Shaped([](StoreShape& s) { s.validationSize = 1 << 20; }), (1 << 20) - 10,
                    "its validation area is longer than the file"},
        RefusalCase{"version 2 with a store count of 0",
                    Shaped([](StoreShape& s) { s.majorVersion = 2; s.storeCount = 0; }), 0,
                    "its header counts no store in the image"},
        RefusalCase{"version 2 fields cut short",
                    Shaped([](StoreShape& s) {
                      s.majorVersion = 2;
                      s.devicePath = u"abc";
                      s.payloadBlocks = 0;
                    }),
                    5, "its header is truncated"}));

TEST(StoreReader, StoreHeaderBeyondFourGiB) {
  StoreShape nearSpec;
  std::vector<uint8_t> nearBytes = BuildFfu(nearSpec);
  StoreShape farSpec;
  farSpec.entries = {Entry{1, {{2, 0}}}, Entry{4, {{0, 77}}}};
  std::vector<uint8_t> farBytes = BuildFfu(farSpec);
  const uint64_t farOffset = (1ull << 32) + kStoreOffset;
  TempFolder folder;
  std::wstring path = folder.Write("far.ffu", nearBytes);
  {
    // Sparse: the hole up to the far copy takes no space.
    std::fstream out(folder.path + "/far.ffu", std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(farOffset));
    out.write(reinterpret_cast<const char*>(farBytes.data() + kStoreOffset),
              static_cast<std::streamsize>(farBytes.size() - kStoreOffset));
    ASSERT_TRUE(out.good());
  }
  FfuImage image;
  StdoutCapture capture;
  int loadResult = image.Load(path);
  ImageInternals::Stores(image)[0].storeOffset = farOffset;
  StoreReader reader;
  int storeResult = loadResult == 0 ? reader.LoadStore(&image) : -1;
  std::string output = capture.Finish();
  ASSERT_EQ(loadResult, 0) << output;
  ASSERT_EQ(storeResult, 0) << output;
  ASSERT_EQ(reader.Entries().size(), 2u);
  EXPECT_EQ(reader.Entries()[1].blockCount, 4u);
  EXPECT_EQ(reader.Entries()[1].locations[0].blockIndex, 77u);
  EXPECT_EQ(FilePosition(image.File()), farOffset + 4096);
}

}  // namespace
