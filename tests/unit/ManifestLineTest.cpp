// The manifest's line matcher against the regular expressions that define
// the two line shapes, on every short line over a small alphabet and on many
// generated longer ones: both must accept the same lines and capture the
// same name, key and value.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <string_view>

#include "ffu/ManifestLine.h"

namespace {

const char kCategoryPattern[] = "^\\s*\\[([^\\]]+)\\]\\s*\\r$";
const char kEntryPattern[] = "^\\s*([^=\\s]+)\\s*=\\s*(.*)(\\s*\\r$)";

class LineOracle {
 public:
  // Compares both shapes on one line; returns a description of the first
  // difference, or the empty text.
  std::string Compare(const std::string& line) {
    std::smatch match;
    std::string_view name;
    const bool categoryWanted = std::regex_match(line, match, category);
    const bool categoryFound = MatchCategoryLine(line, &name);
    if (categoryWanted != categoryFound) return "category line: " + Shown(line);
    if (categoryWanted) {
      ++categories;
      if (match[1].str() != name) return "category name: " + Shown(line);
    }
    std::string_view key;
    std::string_view value;
    const bool entryWanted = std::regex_match(line, match, entry);
    const bool entryFound = MatchEntryLine(line, &key, &value);
    if (entryWanted != entryFound) return "entry line: " + Shown(line);
    if (entryWanted) {
      ++entries;
      if (match[1].str() != key) return "entry key: " + Shown(line);
      if (match[2].str() != value) return "entry value: " + Shown(line);
    }
    return std::string();
  }

  size_t categories = 0;  // lines that were category lines
  size_t entries = 0;     // lines that were entry lines

 private:
  static std::string Shown(const std::string& line) { return testing::PrintToString(line); }

  const std::regex category{kCategoryPattern, std::regex::ECMAScript};
  const std::regex entry{kEntryPattern, std::regex::ECMAScript};
};

// Every line of up to six characters over the characters that steer the
// shapes: all white space the class holds, the three punctuation marks and
// a letter.
TEST(ManifestLine, AgreesWithThePatternsOnEveryShortLine) {
  const std::string alphabet = " \t\r\v=[]a";
  LineOracle oracle;
  std::string line;
  size_t checked = 0;
  // Counts through all lines of each length as numbers in base 8.
  for (size_t length = 0; length <= 6; ++length) {
    size_t total = 1;
    for (size_t i = 0; i < length; ++i) total *= alphabet.size();
    for (size_t number = 0; number < total; ++number) {
      line.clear();
      for (size_t rest = number, i = 0; i < length; ++i, rest /= alphabet.size())
        line += alphabet[rest % alphabet.size()];
      std::string difference = oracle.Compare(line);
      ASSERT_EQ(difference, "");
      ++checked;
    }
  }
  EXPECT_EQ(checked, 299593u);
  EXPECT_GT(oracle.categories, 1000u);
  EXPECT_GT(oracle.entries, 1000u);
}

// Longer lines, built from the parts of the two shapes with random runs of
// white space, brackets, equals signs, CRs and other bytes in between, so
// that many of them almost match.
std::string GeneratedLine(std::mt19937& random) {
  static const std::string blanks = " \t\r\v\f";
  static const std::string others = "=[]=[]aZ9.#\x80\xa0\xc3\xa9\x85\x01";
  auto pick = [&random](const std::string& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  };
  auto run = [&](const std::string& from, int most) {
    std::string text;
    for (int n = std::uniform_int_distribution<int>(0, most)(random); n > 0; --n) text += pick(from);
    return text;
  };
  const std::string mixed = blanks + others;
  std::string line;
  switch (std::uniform_int_distribution<int>(0, 2)(random)) {
    case 0:  // a category line, perhaps damaged
      line = run(blanks, 4) + "[" + run(mixed, 12) + "]" + run(blanks, 6) + "\r";
      break;
    case 1:  // an entry line, perhaps damaged
      line = run(blanks, 4) + run(others + "ab", 8) + run(blanks, 3) + "=" + run(blanks, 8) +
             run(mixed, 20) + run(blanks, 8) + "\r";
      break;
    default:  // anything
      line = run(mixed, 60);
  }
  // Now and then a character is replaced, inserted or dropped anywhere.
  for (int edits = std::uniform_int_distribution<int>(0, 2)(random); edits > 0 && !line.empty();
       --edits) {
    size_t at = std::uniform_int_distribution<size_t>(0, line.size() - 1)(random);
    switch (std::uniform_int_distribution<int>(0, 2)(random)) {
      case 0: line[at] = pick(mixed); break;
      case 1: line.insert(line.begin() + static_cast<std::ptrdiff_t>(at), pick(mixed)); break;
      default: line.erase(at, 1);
    }
  }
  return line;
}

TEST(ManifestLine, AgreesWithThePatternsOnGeneratedLines) {
  std::mt19937 random(20261207);
  LineOracle oracle;
  for (int i = 0; i < 200000; ++i) {
    std::string difference = oracle.Compare(GeneratedLine(random));
    ASSERT_EQ(difference, "") << "line " << i;
  }
  EXPECT_GT(oracle.categories, 20000u);
  EXPECT_GT(oracle.entries, 20000u);
}

}  // namespace
