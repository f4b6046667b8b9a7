// ffu-pack: writes an FFU file from a raw GPT disk image, for the tests, the
// demo and the benchmarks. The store's sector size is the disk image's own
// (512 or 4096 bytes, found from its GPT) unless --sector-size names one.
// With --store, repeated, each disk image becomes a store of its own.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FfuWriter.h"

namespace {
const char kUsage[] =
    "usage: ffu-pack [--block-size N] [--chunk-kb N] [--sector-size N]\n"
    "                [--catalog-size N] [--hash-table-size N] [--merge-runs]\n"
    "                [--no-min-sector-count] [--store-version 1|2]\n"
    "                [--validation-size N] [--two-locations] [--copy-offset N]\n"
    "                [--compressed] [--entries-length N]\n"
    "                [--hash-algorithm N] [--damage-chunk N]...\n"
    "                [--damage security-signature|image-signature|store-category]\n"
    "                [--end-in-store-header N] [--print-layout]\n"
    "                [--sign CERT KEY] [--catalog FILE] [--catalog-digest sha1|sha256]\n"
    "                [--catalog-damage no-member|two-members|other-content-type|\n"
    "                                  no-certificate] disk.img out.ffu\n"
    "       ffu-pack [options] --store disk.img [--store disk.img]... out.ffu\n"
    "--print-layout prints where the parts of the written file begin, one\n"
    "\"name offset\" line each, so that tests can find them.\n"
    "The catalog is built for the hash table: unsigned, or signed with --sign\n"
    "(a PEM certificate and its RSA key); --catalog writes FILE instead and\n"
    "--catalog-size N writes N filler bytes. SOURCE_DATE_EPOCH, where set, is\n"
    "the signing time.\n";

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
  if (name == "--end-in-store-header") return &options.endInStoreHeader;
  if (name == "--hash-algorithm") return &options.hashAlgorithm;
  if (name == "--entries-length") return &options.entriesLength;
  return nullptr;
}

bool FlagOption(PackOptions& options, const std::string& name) {
  if (name == "--merge-runs") options.mergeRuns = true;
  else if (name == "--no-min-sector-count") options.minSectorCount = false;
  else if (name == "--two-locations") options.twoLocations = true;
  else if (name == "--compressed") options.compressed = true;
  else return false;
  return true;
}

bool KnownCatalogDamage(const std::string& name) {
  for (const char* known : kCatalogDamageNames)
    if (name == known) return true;
  return false;
}

void PrintLayout(const PackedLayout& layout) {
  std::printf("image-header %llu\nmanifest %llu\nstore-header %llu\nentries %llu\n"
              "payload %llu\npayload-bytes %llu\nblock-size %u\n",
              static_cast<unsigned long long>(layout.imageHeader),
              static_cast<unsigned long long>(layout.manifest),
              static_cast<unsigned long long>(layout.storeHeader),
              static_cast<unsigned long long>(layout.entries),
              static_cast<unsigned long long>(layout.payload),
              static_cast<unsigned long long>(layout.payloadBytes), layout.blockSize);
  for (size_t i = 0; i < layout.storeHeaders.size(); ++i)
    std::printf("store-header-%zu %llu\n", i + 2,
                static_cast<unsigned long long>(layout.storeHeaders[i]));
}
}  // namespace

int main(int argc, char** argv) {
  PackOptions options;
  bool printLayout = false;
  std::string paths[2];
  int pathCount = 0;
  std::vector<std::string> stores;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument.rfind("--", 0) != 0) {
      if (pathCount == 2) return std::fputs(kUsage, stderr), 2;
      paths[pathCount++] = argument;
    } else if (argument == "--store") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ffu-pack: --store needs a disk image\n");
        return 2;
      }
      stores.push_back(argv[++i]);
    } else if (argument == "--print-layout") {
      printLayout = true;
    } else if (argument == "--damage") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ffu-pack: --damage needs a name\n");
        return 2;
      }
      options.damage = argv[++i];
    } else if (argument == "--sign") {
      if (i + 2 >= argc) {
        std::fprintf(stderr, "ffu-pack: --sign needs a certificate and a key\n");
        return 2;
      }
      options.catalog.certificatePath = argv[++i];
      options.catalog.keyPath = argv[++i];
    } else if (argument == "--catalog" || argument == "--catalog-digest" ||
               argument == "--catalog-damage") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ffu-pack: %s needs a value\n", argument.c_str());
        return 2;
      }
      std::string value = argv[++i];
      if (argument == "--catalog") options.catalogFile = value;
      else if (argument == "--catalog-damage" && KnownCatalogDamage(value))
        options.catalog.damage = value;
      else if (argument == "--catalog-damage")
        return std::fprintf(stderr, "ffu-pack: unknown catalog damage %s\n", value.c_str()), 2;
      else if (value == "sha1" || value == "sha256") options.catalog.sha1 = value == "sha1";
      else return std::fprintf(stderr, "ffu-pack: --catalog-digest: sha1 or sha256\n"), 2;
    } else if (argument == "--damage-chunk") {
      uint32_t chunk = 0;
      if (i + 1 >= argc || !ParseCount(argv[i + 1], &chunk)) {
        std::fprintf(stderr, "ffu-pack: %s needs a number\n", argument.c_str());
        return 2;
      }
      options.damageChunks.push_back(chunk);
      ++i;
    } else if (uint32_t* field = NumberOption(options, argument)) {
      // A sector size of 0 is no sector size; leaving the option out asks
      // for the disk image's own.
      if (i + 1 >= argc || !ParseCount(argv[i + 1], field) ||
          (field == &options.sectorSize && *field == 0)) {
        std::fprintf(stderr, "ffu-pack: %s needs a number\n", argument.c_str());
        return 2;
      }
      if (argument == "--hash-table-size") options.hashTableSizeGiven = true;
      if (argument == "--catalog-size") options.catalogSizeGiven = true;
      if (argument == "--entries-length") options.entriesLengthGiven = true;
      ++i;
    } else if (!FlagOption(options, argument)) {
      std::fprintf(stderr, "ffu-pack: unknown option %s\n%s", argument.c_str(), kUsage);
      return 2;
    }
  }
  // Without --store the first path is the one disk image.
  if (stores.empty() && pathCount == 2) stores.push_back(paths[0]);
  else if (stores.empty() || pathCount != 1) return std::fputs(kUsage, stderr), 2;
  const std::string& outPath = paths[pathCount - 1];
  std::string error;
  PackedLayout layout;
  if (PackFfu(options, stores, outPath, &layout, &error) != 0) {
    std::fprintf(stderr, "ffu-pack: %s\n", error.c_str());
    return 1;
  }
  if (printLayout) PrintLayout(layout);
  return 0;
}
