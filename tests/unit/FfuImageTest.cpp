// The FFU container: header validation, the two paddings, the bounds that
// the file's size puts on declared lengths, on real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
#include "ffu/Manifest.h"
#include "ffu/ManifestCategory.h"

namespace {

struct LoadOutcome {
  int result = -1;
  std::string output;
};

LoadOutcome LoadFile(FfuImage& image, const std::wstring& path) {
  LoadOutcome outcome;
  StdoutCapture capture;
  outcome.result = image.Load(path);
  outcome.output = capture.Finish();
  return outcome;
}

TEST(FfuImageArithmetic, AlignmentPadding) {
  EXPECT_EQ(FfuImage::AlignmentPadding(4032, 131072), 127040u);
  EXPECT_EQ(FfuImage::AlignmentPadding(132596, 131072), 129548u);
  EXPECT_EQ(FfuImage::AlignmentPadding(131072, 131072), 0u);
  EXPECT_EQ(FfuImage::AlignmentPadding(0, 4096), 0u);
  EXPECT_EQ(FfuImage::AlignmentPadding(1, 4096), 4095u);
  EXPECT_EQ(FfuImage::AlignmentPadding(0x100000001ull, 4096), 4095u);
  EXPECT_EQ(FfuImage::AlignmentPadding(12345, 0), 0u);
}

TEST(FfuImageLoad, WorkedExampleOfBothPaddings) {
  TempFolder folder;
  ContainerShape shape;
  shape.securityChunkKb = 128;
  shape.catalogSize = 1000;
  shape.hashTableSize = 3000;
  shape.imageChunkKb = 128;
  shape.manifestLength = 1500;
  std::vector<uint8_t> bytes = BuildContainer(shape);
  ASSERT_EQ(bytes.size(), 262144u + 248u);
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("example.ffu", bytes));
  ASSERT_EQ(outcome.result, 0) << outcome.output;
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(image.SecurityPadding(1024), 127040u);
  EXPECT_EQ(ImageInternals::Catalog(image), std::vector<uint8_t>(1000, 0x11));
  EXPECT_EQ(image.GetHashTable(), std::vector<uint8_t>(3000, 0x22));
  EXPECT_EQ(ImageInternals::ManifestBytes(image).size(), 1500u);
  ASSERT_NE(image.FirstStore(), nullptr);
  EXPECT_EQ(image.FirstStore()->storeOffset, 262144u);
  EXPECT_EQ(image.FirstStore()->sectorSize, 512u);
  EXPECT_EQ(image.FirstStore()->minSectorCount, 4096u);
  EXPECT_EQ(FilePosition(image.File()), 262144u);
}

struct LayoutCase {
  const char* what;
  uint32_t securityChunkKb, catalogSize, hashTableSize, imageChunkKb;
  uint32_t manifestLength;
  uint64_t storeOffset;
  const char* output;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const LayoutCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.what)); }

class FfuImageLayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(FfuImageLayoutTest, FindsTheStoreHeader) {
  const LayoutCase& c = GetParam();
  ContainerShape shape;
  shape.securityChunkKb = c.securityChunkKb;
  shape.catalogSize = c.catalogSize;
  shape.hashTableSize = c.hashTableSize;
  shape.imageChunkKb = c.imageChunkKb;
  shape.manifestLength = c.manifestLength;
  TempFolder folder;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("layout.ffu", BuildContainer(shape)));
  ASSERT_EQ(outcome.result, 0) << c.what << ": " << outcome.output;
  EXPECT_EQ(outcome.output, c.output) << c.what;
  EXPECT_EQ(image.FirstStore()->storeOffset, c.storeOffset) << c.what;
  EXPECT_EQ(FilePosition(image.File()), c.storeOffset) << c.what;
}

const char kNoChunkWarning[] =
    "(Korvex) !WARNING! SecurityPadding: Neither of the headers has been "
    "initialized with a chunk size.\n";

INSTANTIATE_TEST_SUITE_P(
    Layouts, FfuImageLayoutTest,
    testing::Values(
        // 32 + 992 is one KiB: the image header follows the hash table directly.
        LayoutCase{"security region ends on a chunk", 1, 900, 92, 1, 1000, 2048, ""},
        // 1024 + 24 + 1000 = 2048: the store follows the manifest directly.
        LayoutCase{"manifest ends on a chunk", 1, 0, 0, 1, 1000, 2048, ""},
        LayoutCase{"image chunk 0", 4, 10, 20, 0, 100, 4096 + 24 + 100, ""},
        LayoutCase{"both chunks 0", 0, 10, 20, 0, 100, 32 + 30 + 24 + 100, kNoChunkWarning},
        LayoutCase{"security chunk 0, image chunk 2", 0, 10, 20, 2, 100, 2048, kNoChunkWarning}));

TEST(FfuImageLoad, ManifestEndsAtItsFirstZeroByte) {
  ContainerShape shape;
  shape.manifest = std::string(kStoreManifest) + "[Cut]\r\n" + std::string(1, '\0') + "[Hidden]\r\n";
  TempFolder folder;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("zero.ffu", BuildContainer(shape)));
  ASSERT_EQ(outcome.result, 0) << outcome.output;
  ASSERT_NE(image.GetManifest(), nullptr);
  EXPECT_NE(image.GetManifest()->FindCategory("Cut"), nullptr);
  EXPECT_EQ(image.GetManifest()->FindCategory("Hidden"), nullptr);
}

struct FailureCase {
  const char* what;
  ContainerShape shape;
  const char* output;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FailureCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.what)); }

ContainerShape With(void (*change)(ContainerShape&)) {
  ContainerShape shape;
  change(shape);
  return shape;
}

class FfuImageFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FfuImageFailureTest, PrintsOneLineAndReturnsItsLength) {
  const FailureCase& c = GetParam();
  TempFolder folder;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("bad.ffu", BuildContainer(c.shape)));
  EXPECT_EQ(outcome.output, c.output) << c.what;
  EXPECT_EQ(outcome.result, static_cast<int>(std::strlen(c.output))) << c.what;
}

const char kBadSecurity[] =
    "(Korvex) !ERROR! Unable to load image because the security header is invalid.\n";
const char kBadImage[] =
    "(Korvex) !ERROR! Unable to load image because the image header is invalid.\n";

INSTANTIATE_TEST_SUITE_P(
    Failures, FfuImageFailureTest,
    testing::Values(
        FailureCase{"security blank zeroed",
                    With([](ContainerShape& s) { s.securitySignature = "SignedImage\0"; }),
                    kBadSecurity},
        FailureCase{"image blanks zeroed",
                    With([](ContainerShape& s) { s.imageSignature = "ImageFlash\0\0"; }),
                    kBadImage},
        FailureCase{"catalog longer than the file",
                    With([](ContainerShape& s) { s.catalogSize = 0xFFFFFFF0u; s.securityChunkKb = 0; }),
                    "(Korvex) !ERROR! Unable to load image because the catalog is longer than the file.\n"},
        FailureCase{"hash table longer than the file",
                    With([](ContainerShape& s) { s.hashTableSize = 0x7FFFFFFFu; s.securityChunkKb = 0; }),
                    "(Korvex) !ERROR! Unable to load image because the hash table is longer than the file.\n"},
        FailureCase{"manifest longer than the file",
                    With([](ContainerShape& s) { s.manifestLength = 0xFFFFFFFFu; s.imageChunkKb = 0; }),
                    "(Korvex) !ERROR! Unable to load image because the manifest is longer than the file.\n"},
        FailureCase{"manifest of 1 MiB and a byte",
                    With([](ContainerShape& s) { s.manifest = std::string((1 << 20) + 1, '\n'); }),
                    "(Korvex) !ERROR! Unable to load image because the manifest is longer than 1 MiB.\n"},
        FailureCase{"no Store category",
                    With([](ContainerShape& s) { s.manifest = "[FullFlash]\r\nVersion = 1\r\n"; }),
                    "(Korvex) !ERROR! Unable to load image because the manifest describes no store.\n"},
        FailureCase{"sector size 0",
                    With([](ContainerShape& s) { s.manifest = "[Store]\r\nSectorSize = 0\r\n"; }),
                    "(Korvex) !ERROR! Unable to load image because the store's sector size is invalid.\n"},
        FailureCase{"sector size not a number",
                    With([](ContainerShape& s) { s.manifest = "[Store]\r\nSectorSize = big\r\n"; }),
                    "(Korvex) !ERROR! Unable to load image because the store's sector size is invalid.\n"},
        FailureCase{"sector count out of range",
                    With([](ContainerShape& s) {
                      s.manifest =
                          "[Store]\r\nSectorSize = 512\r\nMinSectorCount = 18446744073709551616\r\n";
                    }),
                    "(Korvex) !ERROR! Unable to load image because the store's sector count is invalid.\n"},
        FailureCase{"store header cut short",
                    With([](ContainerShape& s) { s.storeBytes = 247; }),
                    "(Korvex) !ERROR! Unable to load image because the store lies beyond the end of the file.\n"},
        // Chunks whose byte counts do not fit 32 bits pad far beyond the file.
        FailureCase{"image chunk of 2^30 KiB",
                    With([](ContainerShape& s) { s.imageChunkKb = 0x40000000u; }),
                    "(Korvex) !ERROR! Unable to load image because the store lies beyond the end of the file.\n"},
        FailureCase{"security chunk of 4 GiB",
                    With([](ContainerShape& s) { s.securityChunkKb = 4194304; s.imageChunkKb = 0; }),
                    kBadImage},
        FailureCase{"store beyond the end",
                    With([](ContainerShape& s) { s.storeBytes = 0; s.manifestLength = 500; }),
                    "(Korvex) !ERROR! Unable to load image because the store lies beyond the end of the file.\n"}));

TEST(FfuImageLoad, EmptyFileFailsTheSecurityHeader) {
  TempFolder folder;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("empty.ffu", {}));
  EXPECT_EQ(outcome.output, kBadSecurity);
  EXPECT_EQ(outcome.result, 78);
}

TEST(FfuImageLoad, FileShorterThanItsSecurityHeaderReadsZeros) {
  // Size and signature present, chunk size and lengths missing (zero).
  std::vector<uint8_t> bytes = BuildContainer(ContainerShape());
  bytes.resize(16);
  TempFolder folder;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("short.ffu", bytes));
  EXPECT_EQ(outcome.output, std::string(kNoChunkWarning) + kBadImage);
  EXPECT_EQ(outcome.result, 75);
  EXPECT_TRUE(ImageInternals::Catalog(image).empty());
}

TEST(FfuImageLoad, CatalogOfAFileCutInsideItsHeaderIsBounded) {
  // 28 bytes: the catalog length is there, the hash-table length is not.
  ContainerShape shape;
  shape.catalogSize = 0x6D490069;
  std::vector<uint8_t> bytes = BuildContainer(shape);
  bytes.resize(28);
  TempFolder folder;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("cut.ffu", bytes));
  EXPECT_EQ(outcome.output,
            "(Korvex) !ERROR! Unable to load image because the catalog is longer than the file.\n");
  EXPECT_TRUE(ImageInternals::Catalog(image).empty());
}

TEST(FfuImageLoad, CatalogAndHashTableHaveMaximaOfTheirOwn) {
  struct Case {
    uint32_t catalog, table;
    const char* output;
  };
  const Case cases[] = {
      {(16u << 20) + 1, 0,
       "(Korvex) !ERROR! Unable to load image because the catalog is longer than 16 MiB.\n"},
      {0, (256u << 20) + 1,
       "(Korvex) !ERROR! Unable to load image because the hash table is longer than 256 MiB.\n"},
  };
  for (const Case& c : cases) {
    ContainerShape shape;
    shape.catalogSize = c.catalog;
    shape.hashTableSize = c.table;
    shape.securityChunkKb = 0;
    TempFolder folder;
    const std::wstring path = folder.Write("long.ffu", BuildContainer(shape));
    std::filesystem::resize_file(path, 1ull << 30);  // sparse: long enough for either
    FfuImage image;
    EXPECT_EQ(LoadFile(image, path).output, c.output);
  }
}

TEST(FfuImageLoad, HeaderSizesOtherThanTheirOwnAreInvalid) {
  TempFolder folder;
  std::vector<uint8_t> bytes = BuildContainer(ContainerShape());
  bytes[0] = 33;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, folder.Write("size.ffu", bytes));
  EXPECT_EQ(outcome.result, 78);
  bytes[0] = 32;
  bytes[1024 + offsetof(ImageHeader, headerSize)] = 25;
  FfuImage second;
  outcome = LoadFile(second, folder.Write("size2.ffu", bytes));
  EXPECT_EQ(outcome.output, kBadImage);
  EXPECT_EQ(outcome.result, 75);
}

TEST(FfuImageLoad, MissingFileReportsTheSystemError) {
  TempFolder folder;
  std::wstring path = folder.Write("present.ffu", {});
  path += L"-missing";
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, path);
  EXPECT_EQ(outcome.result, 2);
  EXPECT_EQ(outcome.output.rfind("!ERROR! ", 0), 0u) << outcome.output;
  EXPECT_NE(outcome.output.find("present.ffu-missing\""), std::string::npos) << outcome.output;
}

struct NotAFileCase {
  const char* what;
  const char* command;  // makes $0, the image path, as something other than a file
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const NotAFileCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.what)); }

class FfuImageNotAFileTest : public testing::TestWithParam<NotAFileCase> {};

// A FIFO would block the open until a writer came; none ever comes here.
TEST_P(FfuImageNotAFileTest, IsRefusedWithoutBlocking) {
  const NotAFileCase& c = GetParam();
  TempFolder folder;
  const std::string path = folder.path + "/phone.ffu";
  ASSERT_EQ(std::system(("sh -c '" + std::string(c.command) + "' " + path).c_str()), 0) << c.what;
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, std::wstring(path.begin(), path.end()));
  const std::string line = "(Korvex) !ERROR! Unable to load image because it is not a regular file.\n";
  EXPECT_EQ(outcome.output, line) << c.what;
  EXPECT_EQ(outcome.result, static_cast<int>(line.size())) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FfuImageNotAFileTest,
    testing::Values(NotAFileCase{"FIFO", "mkfifo \"$0\""},
                    NotAFileCase{"folder", "mkdir \"$0\""},
                    NotAFileCase{"link to a folder", "mkdir \"$0.d\" && ln -s \"$0.d\" \"$0\""},
                    NotAFileCase{"character device", "ln -s /dev/zero \"$0\""}));

TEST(FfuImageLoad, FileHeldOpenUnsharedIsASharingViolation) {
  TempFolder folder;
  std::wstring path = folder.Write("held.ffu", BuildContainer(ContainerShape()));
  HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  FfuImage image;
  LoadOutcome outcome = LoadFile(image, path);
  CloseHandle(holder);
  EXPECT_EQ(outcome.result, 32) << outcome.output;
  EXPECT_NE(outcome.output.find("held.ffu\""), std::string::npos) << outcome.output;
}

// Other programs (a virus scanner on a fresh download, an indexer) may read
// the image while it loads; a writer may not have it open.
TEST(FfuImageLoad, ReadersShareTheImageAndWritersDoNot) {
  struct Case {
    int otherOpen;
    int result;
  } cases[] = {{O_RDONLY, 0}, {O_WRONLY, ERROR_SHARING_VIOLATION}};
  for (const Case& c : cases) {
    TempFolder folder;
    std::wstring path = folder.Write("shared.ffu", BuildContainer(ContainerShape()));
    const int other = open(std::string(path.begin(), path.end()).c_str(), c.otherOpen);
    ASSERT_GE(other, 0);
    FfuImage image;
    LoadOutcome outcome = LoadFile(image, path);
    close(other);
    EXPECT_EQ(outcome.result, c.result) << c.otherOpen << outcome.output;
  }
}

}  // namespace
