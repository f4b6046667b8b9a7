// The manifest model: categories, values, the number rule and the store
// description made from the "Store" category.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "ImageInternals.h"
#include "StdoutCapture.h"
#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/ManifestCategory.h"
#include "ffu/NumberRule.h"

namespace {

struct NumberCase {
  const char* text;
  NumberResult result;
  uint32_t value;  // meaningful for valid numbers only
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const NumberCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.text)); }

class NumberRuleTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberRuleTest, ConvertsLikeAnUnsignedDecimalConversion) {
  const NumberCase& c = GetParam();
  uint32_t value = 12345;
  EXPECT_EQ(ParseManifestNumber(c.text, &value), c.result) << c.text;
  if (c.result == kNumberValid)
    EXPECT_EQ(value, c.value) << c.text;
  else
    EXPECT_EQ(value, 12345u) << "left unchanged: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberRuleTest,
    testing::Values(NumberCase{"512", kNumberValid, 512},
                    NumberCase{"512   ", kNumberValid, 512},
                    NumberCase{"512 sectors", kNumberValid, 512},
                    NumberCase{" \t\r\n\v\f42", kNumberValid, 42},
                    NumberCase{"+7", kNumberValid, 7},
                    NumberCase{"-1", kNumberValid, 4294967295u},
                    NumberCase{"-4294967295", kNumberValid, 1},
                    NumberCase{"0x200", kNumberValid, 0},
                    NumberCase{"4294967295", kNumberValid, 4294967295u},
                    NumberCase{"0004294967295", kNumberValid, 4294967295u},
                    NumberCase{"4294967296", kNumberOutOfRange, 0},
                    NumberCase{"99999999999999999999999", kNumberOutOfRange, 0},
                    NumberCase{"", kNumberInvalid, 0},
                    NumberCase{"   ", kNumberInvalid, 0},
                    NumberCase{"+", kNumberInvalid, 0},
                    NumberCase{"- 5", kNumberInvalid, 0},
                    NumberCase{"abc", kNumberInvalid, 0}));

TEST(ManifestCategory, GetValueOfEmptyAndAbsentKeysIsEmpty) {
  ManifestCategory category("C");
  category.values["Empty"] = "";
  category.values["Full"] = "x";
  EXPECT_EQ(category.GetValue("Empty"), "");
  EXPECT_EQ(category.GetValue("Absent"), "");
  EXPECT_EQ(category.GetValue("Full"), "x");
  EXPECT_EQ(category.values.count("Absent"), 0u);
}

Manifest* ParseInto(FfuImage& image, const std::string& text, std::string* output) {
  StdoutCapture capture;
  image.ReadManifest(text);
  *output = capture.Finish();
  return ImageInternals::ParsedManifest(image);
}

TEST(Manifest, FindCategoryComparesExactly) {
  FfuImage image;
  std::string output;
  Manifest* manifest = ParseInto(image, "[FullFlash]\r\n[Full]\r\n[Store]\r\nSectorSize = 512\r\n", &output);
  EXPECT_EQ(manifest->FindCategory("fullflash"), nullptr);
  EXPECT_EQ(manifest->FindCategory("FullFlas"), nullptr);
  EXPECT_EQ(manifest->FindCategory("Full"), manifest->Categories()[1].get());
  EXPECT_EQ(manifest->FindCategory("FullFlash"), manifest->Categories()[0].get());
  EXPECT_EQ(manifest->FindCategory("Store"), nullptr);
}

TEST(Manifest, AddCategoryReturnsTheListedOneAfterAWarning) {
  FfuImage image;
  std::string output;
  Manifest* manifest = ParseInto(image, "", &output);
  ManifestCategory* first = manifest->AddCategory("A");
  StdoutCapture capture;
  ManifestCategory* again = manifest->AddCategory("A");
  manifest->PrintWarnings();
  output = capture.Finish();
  EXPECT_EQ(first, again);
  EXPECT_EQ(manifest->Categories().size(), 1u);
  EXPECT_EQ(output, "(Korvex) !WARNING! Cannot add duplicate categories to a manifest.\n");
}

struct StoreCase {
  const char* storeLines;
  FfuImage::StoreFault fault;
  uint32_t sectorSize;
  uint64_t minSectorCount;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const StoreCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.storeLines)); }

class StoreDescriptionTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreDescriptionTest, TakesNumbersFromTheStoreCategory) {
  const StoreCase& c = GetParam();
  FfuImage image;
  std::string output;
  ParseInto(image, std::string("[Store]\r\n") + c.storeLines, &output);
  EXPECT_EQ(ImageInternals::StoreFault(image), c.fault) << c.storeLines;
  ASSERT_EQ(image.GetStores().size(), 1u);
  if (c.fault == FfuImage::kStoreFine) {
    EXPECT_EQ(image.FirstStore()->sectorSize, c.sectorSize);
    EXPECT_EQ(image.FirstStore()->minSectorCount, c.minSectorCount);
    EXPECT_EQ(image.FirstStore()->storeOffset, 0u);
    EXPECT_TRUE(image.FirstStore()->imagePath.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, StoreDescriptionTest,
    testing::Values(
        StoreCase{"SectorSize = 512\r\nMinSectorCount = 2048\r\n", FfuImage::kStoreFine, 512, 2048},
        StoreCase{"SectorSize = 512\r\n", FfuImage::kStoreFine, 512, 0},
        StoreCase{"SectorSize = 512\r\nMinSectorCount =  \r\n", FfuImage::kStoreFine, 512, 0},
        StoreCase{"SectorSize = 512   \r\n", FfuImage::kStoreFine, 512, 0},
        StoreCase{"SectorSize = 4096\r\nMinSectorCount = -1\r\n", FfuImage::kStoreFine, 4096, 4294967295u},
        StoreCase{"SectorSize = 0x200\r\n", FfuImage::kStoreSectorSizeInvalid, 0, 0},
        StoreCase{"SectorSize = 0\r\n", FfuImage::kStoreSectorSizeInvalid, 0, 0},
        StoreCase{"MinSectorCount = 10\r\n", FfuImage::kStoreSectorSizeInvalid, 0, 0},
        StoreCase{"SectorSize = 5000000000\r\n", FfuImage::kStoreSectorSizeInvalid, 0, 0},
        StoreCase{"SectorSize = 512\r\nMinSectorCount = many\r\n", FfuImage::kStoreSectorCountInvalid, 0, 0},
        // A disk of 2 TiB and more in 512-byte sectors.
        StoreCase{"SectorSize = 512\r\nMinSectorCount = 4294967296\r\n", FfuImage::kStoreFine, 512, 4294967296u},
        StoreCase{"SectorSize = 512\r\nMinSectorCount = 36028797018963968\r\n", FfuImage::kStoreSectorCountInvalid, 0, 0}));

TEST(Manifest, SecondStoreWarnsOnceAndChangesNothing) {
  FfuImage image;
  std::string output;
  ParseInto(image,
                   "[Store]\r\nSectorSize = 512\r\nMinSectorCount = 100\r\n"
                   "[Store]\r\nSectorSize = 4096\r\nMinSectorCount = 7\r\n",
                   &output);
  EXPECT_EQ(output, "(Korvex) !WARNING! FFU already contains a store.\n");
  ASSERT_EQ(image.GetManifest()->StoreCategories().size(), 2u) << "the parser hands over both";
  EXPECT_EQ(image.GetManifest()->StoreCategories()[1].GetValue("SectorSize"), "4096");
  ASSERT_EQ(image.GetStores().size(), 1u);
  EXPECT_EQ(image.FirstStore()->sectorSize, 512u);
  EXPECT_EQ(image.FirstStore()->minSectorCount, 100u);
  EXPECT_EQ(ImageInternals::StoreFault(image), FfuImage::kStoreFine);
}

// Each warning once, in the order they first came, with a count when it
// came again.
TEST(Manifest, WarningsComeOnceInTheOrderOfTheirFirstLines) {
  FfuImage image;
  std::string output;
  ParseInto(image,
            "[A]\r\n[A]\r\n[Store]\r\nSectorSize = 512\r\n[Store]\r\nSectorSize = 512\r\n"
            "[A]\r\n[A]\r\n",
            &output);
  EXPECT_EQ(output,
            "(Korvex) !WARNING! Cannot add duplicate categories to a manifest. (3 times)\n"
            "(Korvex) !WARNING! FFU already contains a store.\n");
}

TEST(Manifest, SecondStoreWithInvalidSectorSizeIsStillChecked) {
  FfuImage image;
  std::string output;
  ParseInto(image, "[Store]\r\nSectorSize = 512\r\n[Store]\r\nSectorSize = x\r\n", &output);
  EXPECT_EQ(output, "(Korvex) !WARNING! FFU already contains a store.\n");
  EXPECT_EQ(ImageInternals::StoreFault(image), FfuImage::kStoreSectorSizeInvalid);
}

TEST(Manifest, NoStoreCategoryLeavesNoStore) {
  FfuImage image;
  std::string output;
  ParseInto(image, "[FullFlash]\r\nVersion = 1\r\n", &output);
  EXPECT_TRUE(image.GetStores().empty());
  EXPECT_EQ(image.FirstStore(), nullptr);
}

}  // namespace
