// Times the manifest parser on large generated manifests and prints seconds
// per MB, to show that parsing stays proportional to the text's length.
// Figures only: nothing here passes or fails.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/ManifestCategory.h"

namespace {
constexpr size_t kMegabyte = 1000 * 1000;

// Lines that the pattern matchers used to backtrack over: long runs of white
// space in front of, around and after an equals sign, with and without the
// CR, and bracket lines that never close.
std::string BlankHeavy(size_t size) {
  const std::string blanks800(800, ' ');
  const std::string blanks4000(4000, ' ');
  const std::vector<std::string> lines = {
      "k =" + blanks800 + "\n",
      blanks4000 + "\r\n",
      "Key" + blanks800 + "=" + blanks800 + "value" + blanks800 + "\r\n",
      " \t[" + blanks800 + "x" + blanks800 + "\r\n",
      "Other = a=b" + blanks800 + "\r \r\n",
  };
  std::string text = "[FullFlash]\r\n";
  for (size_t i = 0; text.size() < size; ++i) text += lines[i % lines.size()];
  return text + "[Store]\r\nSectorSize = 512\r\n";
}

// One description that goes on over every following line.
std::string ContinuationHeavy(size_t size) {
  std::string text = "[FullFlash]\r\nDescription = the first line\r\n";
  const std::string line = "  a description line that goes on and on, with words in it\r\n";
  while (text.size() < size) text += line;
  return text + "[Store]\r\nSectorSize = 512\r\n";
}

double SecondsToParse(const std::string& text) {
  FfuImage image;
  const auto start = std::chrono::steady_clock::now();
  image.ReadManifest(text);
  const auto end = std::chrono::steady_clock::now();
  if (image.GetManifest()->Categories().empty())
    std::fprintf(stderr, "manifest-speed: the manifest did not parse as expected\n");
  return std::chrono::duration<double>(end - start).count();
}

void Row(const char* shape, const std::string& text) {
  const double seconds = SecondsToParse(text);
  const double megabytes = static_cast<double>(text.size()) / kMegabyte;
  std::printf("| %-18s | %8.3f | %8.4f | %8.4f |\n", shape, megabytes, seconds, seconds / megabytes);
  std::fflush(stdout);
}
}  // namespace

int main() {
  std::printf("| manifest           |       MB |  seconds |     s/MB |\n");
  std::printf("|--------------------|----------|----------|----------|\n");
  for (size_t megabytes : {1, 10, 100}) Row("blank-heavy", BlankHeavy(megabytes * kMegabyte));
  for (size_t megabytes : {1, 10, 100}) Row("continuation-heavy", ContinuationHeavy(megabytes * kMegabyte));
  // The texts of the reported hangs.
  Row("k = + 800 blanks", "[C]\r\nk =" + std::string(800, ' ') + "\n");
  std::string twenty = "[C]\r\n";
  for (int i = 0; i < 20; ++i) twenty += std::string(4000, ' ') + "\n";
  Row("20 x 4,000 blanks", twenty);
  Row("12 MB continuation", ContinuationHeavy(12 * kMegabyte));
  return 0;
}
