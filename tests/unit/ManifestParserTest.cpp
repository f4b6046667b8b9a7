// The manifest parser: which lines open categories, carry entries or
// continue a Description, on real manifest texts.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "ImageInternals.h"
#include "StdoutCapture.h"
#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/ManifestCategory.h"

namespace {

struct Parsed {
  FfuImage image;
  Manifest* manifest = nullptr;
  std::string output;
  explicit Parsed(const std::string& text) {
    StdoutCapture capture;
    image.ReadManifest(text);
    output = capture.Finish();
    manifest = ImageInternals::ParsedManifest(image);
  }
};

struct CategoryLineCase {
  const char* line;
  const char* name;  // nullptr: no category line
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const CategoryLineCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.line)); }

class CategoryLineTest : public testing::TestWithParam<CategoryLineCase> {};

TEST_P(CategoryLineTest, RecognisesNameExactly) {
  const CategoryLineCase& c = GetParam();
  Parsed parsed(std::string(c.line) + "\n");
  if (c.name == nullptr) {
    EXPECT_TRUE(parsed.manifest->Categories().empty()) << c.line;
  } else {
    ASSERT_EQ(parsed.manifest->Categories().size(), 1u) << c.line;
    EXPECT_EQ(parsed.manifest->Categories()[0]->name, c.name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CategoryLineTest,
    testing::Values(CategoryLineCase{"[FullFlash]\r", "FullFlash"},
                    CategoryLineCase{"  [ Store ]  \r", " Store "},
                    CategoryLineCase{"[[a]\r", "[a"},
                    CategoryLineCase{"\t[x y]\t\r", "x y"},
                    CategoryLineCase{"[]\r", nullptr},
                    CategoryLineCase{"[a]b]\r", nullptr},
                    CategoryLineCase{"[Store]", nullptr},
                    CategoryLineCase{"[a]\r\r", "a"},
                    CategoryLineCase{"x[a]\r", nullptr}));

struct EntryLineCase {
  const char* line;
  const char* key;    // nullptr: no entry line
  const char* value;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const EntryLineCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.line)); }

class EntryLineTest : public testing::TestWithParam<EntryLineCase> {};

TEST_P(EntryLineTest, SplitsKeyAndValue) {
  const EntryLineCase& c = GetParam();
  Parsed parsed(std::string("[C]\r\n") + c.line + "\n");
  ASSERT_EQ(parsed.manifest->Categories().size(), 1u);
  const auto& values = parsed.manifest->Categories()[0]->values;
  if (c.key == nullptr) {
    EXPECT_TRUE(values.empty()) << c.line;
  } else {
    ASSERT_EQ(values.size(), 1u) << c.line;
    EXPECT_EQ(values.begin()->first, c.key);
    EXPECT_EQ(values.begin()->second, c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, EntryLineTest,
    testing::Values(EntryLineCase{"Key = Value\r", "Key", "Value"},
                    EntryLineCase{"  Key=Value  \r", "Key", "Value  "},
                    EntryLineCase{"Key = a=b\r", "Key", "a=b"},
                    EntryLineCase{"Key =   \r", "Key", ""},
                    EntryLineCase{"Key Name = x\r", nullptr, nullptr},
                    EntryLineCase{"Key = x", nullptr, nullptr},
                    EntryLineCase{"Key = a\rb\r", nullptr, nullptr},
                    EntryLineCase{"= x\r", nullptr, nullptr},
                    EntryLineCase{"K\t=\tv w\r", "K", "v w"}));

TEST(ManifestParser, EmptyTextHasNoCategoriesAndNoStore) {
  Parsed parsed("");
  EXPECT_TRUE(parsed.manifest->Categories().empty());
  EXPECT_TRUE(parsed.image.GetStores().empty());
}

TEST(ManifestParser, BareLineFeedsAreNeverRecognised) {
  Parsed parsed("[FullFlash]\nVersion = 1\n[Store]\nSectorSize = 512\n");
  EXPECT_TRUE(parsed.manifest->Categories().empty());
  EXPECT_TRUE(parsed.image.GetStores().empty());
}

TEST(ManifestParser, LastLineWithoutLineFeedIsNotParsed) {
  Parsed parsed("[FullFlash]\r\nA = 1\r\nB = 2\r");
  ASSERT_EQ(parsed.manifest->Categories().size(), 1u);
  EXPECT_EQ(parsed.manifest->Categories()[0]->GetValue("A"), "1");
  EXPECT_EQ(parsed.manifest->Categories()[0]->values.count("B"), 0u);
}

TEST(ManifestParser, EntriesBeforeFirstCategoryAreIgnored) {
  Parsed parsed("Loose = 1\r\n[FullFlash]\r\nKept = 2\r\n");
  ASSERT_EQ(parsed.manifest->Categories().size(), 1u);
  EXPECT_EQ(parsed.manifest->Categories()[0]->values.size(), 1u);
  EXPECT_EQ(parsed.manifest->Categories()[0]->GetValue("Kept"), "2");
}

struct StoreNameCase {
  const char* categoryLine;
  bool makesStore;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const StoreNameCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.categoryLine)); }

class StoreNameTest : public testing::TestWithParam<StoreNameCase> {};

TEST_P(StoreNameTest, OnlyTheExactNameMakesAStore) {
  const StoreNameCase& c = GetParam();
  Parsed parsed(std::string(c.categoryLine) + "\r\nSectorSize = 512\r\n");
  EXPECT_EQ(parsed.image.GetStores().size(), c.makesStore ? 1u : 0u);
  EXPECT_EQ(parsed.manifest->Categories().size(), c.makesStore ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Names, StoreNameTest,
                         testing::Values(StoreNameCase{"[Store]", true},
                                         StoreNameCase{"  [Store]  ", true},
                                         StoreNameCase{"[store]", false},
                                         StoreNameCase{"[ Store ]", false},
                                         StoreNameCase{"[STORE]", false}));

TEST(ManifestParser, RepeatedCategoryWarnsOnceAndMergesEntries) {
  Parsed parsed(
      "[FullFlash]\r\nA = 1\r\nB = 2\r\n[Other]\r\n[FullFlash]\r\nB = 3\r\nC = 4\r\n");
  EXPECT_EQ(parsed.output, "(Korvex) !WARNING! Cannot add duplicate categories to a manifest.\n");
  ASSERT_EQ(parsed.manifest->Categories().size(), 2u);
  ManifestCategory* fullFlash = parsed.manifest->FindCategory("FullFlash");
  ASSERT_NE(fullFlash, nullptr);
  EXPECT_EQ(fullFlash, parsed.manifest->Categories()[0].get());
  EXPECT_EQ(fullFlash->GetValue("A"), "1");
  EXPECT_EQ(fullFlash->GetValue("B"), "3");
  EXPECT_EQ(fullFlash->GetValue("C"), "4");
}

TEST(ManifestParser, PartitionCategoriesAreNeitherListedNorWarned) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "[Partition]\r\nName = P" + std::to_string(i) + "\r\n";
  Parsed parsed(text);
  EXPECT_EQ(parsed.output, "");
  EXPECT_TRUE(parsed.manifest->Categories().empty());
  EXPECT_EQ(parsed.manifest->FindCategory("Partition"), nullptr);
}

TEST(ManifestParser, DescriptionContinuesOverFollowingLines) {
  Parsed parsed("[C]\r\nDescription = First\r\n  second line\r\n\r\nOther = x\r\n");
  ManifestCategory* category = parsed.manifest->FindCategory("C");
  ASSERT_NE(category, nullptr);
  EXPECT_EQ(category->GetValue("Description"), "First\r\n  second line\r\n");
  EXPECT_EQ(category->GetValue("Other"), "x");
}

TEST(ManifestParser, EntryLineEndsTheContinuation) {
  Parsed parsed("[C]\r\nDescription = a\r\nKey = b\r\nstray line\r\n");
  ManifestCategory* category = parsed.manifest->FindCategory("C");
  ASSERT_NE(category, nullptr);
  EXPECT_EQ(category->GetValue("Description"), "a");
  EXPECT_EQ(category->GetValue("Key"), "b");
  EXPECT_EQ(category->values.size(), 2u);
}

TEST(ManifestParser, CategoryLineEndsTheContinuation) {
  Parsed parsed("[C]\r\nDescription = a\r\n[D]\r\nstray line\r\n");
  EXPECT_EQ(parsed.manifest->FindCategory("C")->GetValue("Description"), "a");
  EXPECT_TRUE(parsed.manifest->FindCategory("D")->values.empty());
}

TEST(ManifestParser, SecondDescriptionStartsAfresh) {
  Parsed parsed("[C]\r\nDescription = a\r\nmore\r\nDescription = b\r\nlast\r\n");
  EXPECT_EQ(parsed.manifest->FindCategory("C")->GetValue("Description"), "b\r\nlast");
}

TEST(ManifestParser, EmptyLineInDescriptionAddsAnEmptyLine) {
  Parsed parsed("[C]\r\nDescription = a\r\n\nb\r\n");
  EXPECT_EQ(parsed.manifest->FindCategory("C")->GetValue("Description"), "a\r\n\r\nb");
}

TEST(ManifestParser, LongLinesAreParsedLikeShortOnes) {
  // Far longer than any real manifest line: an entry, a continuation of a
  // description and a category name.
  const std::string longText(200000, 'v');
  const std::string longName(200000, 'n');
  Parsed parsed("[C]\r\nLong = " + longText + "\r\nDescription = d\r\n" + longText + "\r\n[" +
                longName + "]\r\nShort = s\r\n");
  ASSERT_EQ(parsed.manifest->Categories().size(), 2u);
  ManifestCategory* category = parsed.manifest->FindCategory("C");
  ASSERT_NE(category, nullptr);
  EXPECT_EQ(category->GetValue("Long"), longText);
  EXPECT_EQ(category->GetValue("Description"), "d\r\n" + longText);
  ManifestCategory* named = parsed.manifest->FindCategory(longName);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->GetValue("Short"), "s");
}

}  // namespace
