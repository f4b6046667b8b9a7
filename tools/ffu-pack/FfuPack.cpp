// ffu-pack: writes an FFU file from a raw GPT disk image, for the tests, the
// demo and the benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FfuWriter.h"

namespace {
const char kUsage[] =
    "usage: ffu-pack [--block-size N] [--chunk-kb N] [--sector-size N]\n"
    "                [--catalog-size N] [--hash-table-size N] [--merge-runs]\n"
    "                [--no-min-sector-count] [--store-version 1|2]\n"
    "                [--validation-size N] [--two-locations] [--copy-offset N]\n"
    "                [--hash-algorithm N] [--damage-chunk N]...\n"
    "                disk.img out.ffu\n";

bool ParseCount(const char* text, uint32_t* value) {
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-' || parsed > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

// Returns the option's field, or nullptr when `name` takes no number.
uint32_t* NumberOption(PackOptions& options, const std::string& name) {
  if (name == "--block-size") return &options.blockSize;
  if (name == "--chunk-kb") return &options.chunkKb;
  if (name == "--sector-size") return &options.sectorSize;
  if (name == "--catalog-size") return &options.catalogSize;
  if (name == "--hash-table-size") return &options.hashTableSize;
  if (name == "--store-version") return &options.storeVersion;
  if (name == "--validation-size") return &options.validationSize;
  if (name == "--copy-offset") return &options.copyOffset;
  if (name == "--hash-algorithm") return &options.hashAlgorithm;
  return nullptr;
}

bool FlagOption(PackOptions& options, const std::string& name) {
  if (name == "--merge-runs") options.mergeRuns = true;
  else if (name == "--no-min-sector-count") options.minSectorCount = false;
  else if (name == "--two-locations") options.twoLocations = true;
  else return false;
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  PackOptions options;
  std::string paths[2];
  int pathCount = 0;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument.rfind("--", 0) != 0) {
      if (pathCount == 2) return std::fputs(kUsage, stderr), 2;
      paths[pathCount++] = argument;
    } else if (argument == "--damage-chunk") {
      uint32_t chunk = 0;
      if (i + 1 >= argc || !ParseCount(argv[i + 1], &chunk)) {
        std::fprintf(stderr, "ffu-pack: %s needs a number\n", argument.c_str());
        return 2;
      }
      options.damageChunks.push_back(chunk);
      ++i;
    } else if (uint32_t* field = NumberOption(options, argument)) {
      if (i + 1 >= argc || !ParseCount(argv[i + 1], field)) {
        std::fprintf(stderr, "ffu-pack: %s needs a number\n", argument.c_str());
        return 2;
      }
      if (argument == "--hash-table-size") options.hashTableSizeGiven = true;
      ++i;
    } else if (!FlagOption(options, argument)) {
      std::fprintf(stderr, "ffu-pack: unknown option %s\n%s", argument.c_str(), kUsage);
      return 2;
    }
  }
  if (pathCount != 2) return std::fputs(kUsage, stderr), 2;
  std::string error;
  if (PackFfu(options, paths[0], paths[1], &error) != 0) {
    std::fprintf(stderr, "ffu-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
