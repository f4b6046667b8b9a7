#include "FfuWriter.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "GptLayout.h"
#include "ffu/FfuLayout.h"

namespace {

// One block data entry as it will be written.
struct PlannedEntry {
  uint64_t firstDiskBlock = 0;  // where its payload comes from
  uint32_t blockCount = 1;
  uint32_t origin = kOriginDiskStart;
  uint32_t blockIndex = 0;
};

// One disk image packed as one store.
struct StoreSource {
  std::string path;
  std::unique_ptr<std::ifstream> disk;
  uint32_t sectorSize = 0;
  uint64_t diskSize = 0;
  GptLayout layout;
  std::vector<PlannedEntry> plan;
  uint64_t payloadBlocks = 0;
};

class ByteWriter {
 public:
  void U16(uint32_t value) { Bytes(value, 2); }
  void Text(const std::string& text) { data.insert(data.end(), text.begin(), text.end()); }
  void Fill(size_t count, uint8_t value) { data.insert(data.end(), count, value); }
  // A record of the file layout, as it lies in memory.
  template <typename Record>
  void Put(const Record& record) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
    data.insert(data.end(), bytes, bytes + sizeof(record));
  }
  std::vector<uint8_t> data;

 private:
  void Bytes(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
};

void PadTo(ByteWriter& out, uint64_t filePosition, uint64_t unit) {
  if (unit == 0 || filePosition % unit == 0) return;
  out.Fill(static_cast<size_t>(unit - filePosition % unit), 0);
}

// A "Store" category for each store, each followed by its partitions.
std::string BuildManifest(const PackOptions& options, const std::vector<StoreSource>& stores) {
  const char* storeLine = options.damage == "store-category" ? "[store]\r\n" : "[Store]\r\n";
  std::string text =
      "[FullFlash]\r\n"
      "Version = 2.0\r\n"
      "OSVersion = 10.0.1\r\n"
      "Description = Disk image packed for testing\r\n"
      "  with one store and its partitions\r\n"
      "DevicePlatformId0 = Test.Device.Platform\r\n"
      "\r\n";
  for (const StoreSource& store : stores) {
    text += std::string(storeLine) + "SectorSize = " + std::to_string(store.sectorSize) + "\r\n";
    if (options.minSectorCount)
      text += "MinSectorCount = " + std::to_string(store.diskSize / store.sectorSize) + "\r\n";
    text += "\r\n";
    for (const GptPartition& partition : store.layout.partitions) {
      text += "[Partition]\r\nName = " + partition.name + "\r\n";
      text += "FirstSector = " + std::to_string(partition.firstSector) + "\r\n";
      text += "LastSector = " + std::to_string(partition.lastSector) + "\r\n\r\n";
    }
  }
  return text;
}

bool ReadBlock(std::ifstream& disk, uint64_t block, std::vector<char>& buffer) {
  disk.clear();
  disk.seekg(static_cast<std::streamoff>(block * buffer.size()));
  disk.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  return disk.gcount() == static_cast<std::streamsize>(buffer.size());
}

bool IsZero(const std::vector<char>& buffer) {
  for (char c : buffer)
    if (c != 0) return false;
  return true;
}

// Blocks from the one that holds the backup GPT to the end are placed from
// the disk's end; every other data block from its start.
int PlanEntries(const PackOptions& options, std::ifstream& disk, uint64_t diskBlocks,
                uint64_t tailFirstBlock, std::vector<PlannedEntry>* plan) {
  std::vector<char> buffer(options.blockSize);
  for (uint64_t block = 0; block < diskBlocks; ++block) {
    if (!ReadBlock(disk, block, buffer)) return 1;
    if (IsZero(buffer)) continue;
    PlannedEntry entry;
    entry.firstDiskBlock = block;
    if (block >= tailFirstBlock) {
      entry.origin = kOriginDiskEnd;
      entry.blockIndex = static_cast<uint32_t>(diskBlocks - 1 - block);
    } else {
      entry.blockIndex = static_cast<uint32_t>(block);
    }
    PlannedEntry* last = plan->empty() ? nullptr : &plan->back();
    if (options.mergeRuns && entry.origin == kOriginDiskStart && last != nullptr &&
        last->origin == kOriginDiskStart &&
        last->firstDiskBlock + last->blockCount == block) {
      ++last->blockCount;
      continue;
    }
    plan->push_back(entry);
  }
  return 0;
}

// Bytes of one entry as written: a compressed image's entries carry one more
// word each.
uint32_t EntryBytes(const PackOptions& options) {
  uint32_t locations = options.twoLocations ? 2 : 1;
  uint32_t bytes = sizeof(BlockEntryRecord) + sizeof(LocationRecord) * locations;
  return options.compressed ? bytes + 4 : bytes;
}

void WriteStoreHeader(const PackOptions& options, const std::vector<PlannedEntry>& plan,
                      uint64_t payloadBlocks, uint32_t storeCount, uint32_t storeIndex,
                      ByteWriter& out) {
  StoreHeader header{};
  header.majorVersion = static_cast<uint16_t>(options.storeVersion);
  header.fullFlashMajorVersion = options.compressed ? kCompressedFullFlashVersion : kFullFlashVersion;
  const char platform[] = "Test.Device.Platform";
  std::memcpy(header.platformId, platform, sizeof(platform) - 1);
  header.blockSize = options.blockSize;
  header.entryCount = static_cast<uint32_t>(plan.size());
  header.entriesLength = options.entriesLengthGiven
                             ? options.entriesLength
                             : static_cast<uint32_t>(plan.size() * EntryBytes(options));
  header.validationCount = options.validationSize == 0 ? 0 : 1;
  header.validationLength = options.validationSize;
  out.Put(header);
  if (options.compressed) out.Put(uint32_t{1});  // the compression field
  if (options.storeVersion == kStoreVersionWithStoreList) {
    const std::string devicePath = "DiskDevice" + std::to_string(storeIndex - 1);
    StoreListFields fields{};
    fields.storeCount = static_cast<uint16_t>(storeCount);
    fields.storeIndex = static_cast<uint16_t>(storeIndex);
    fields.storePayloadSize = payloadBlocks * options.blockSize;
    fields.devicePathLength = static_cast<uint16_t>(devicePath.size());
    out.Put(fields);
    for (char c : devicePath) out.U16(static_cast<uint8_t>(c));
  }
  // One validation entry: its record, then its bytes to compare.
  if (options.validationSize == 0) return;
  uint32_t record[3] = {0, 0, options.validationSize - 12};
  out.Put(record);
  out.Fill(options.validationSize - 12, 0xA5);
}

void WriteEntries(const PackOptions& options, const std::vector<PlannedEntry>& plan,
                  ByteWriter& out) {
  for (const PlannedEntry& entry : plan) {
    out.Put(BlockEntryRecord{options.twoLocations ? 2u : 1u, entry.blockCount});
    out.Put(LocationRecord{entry.origin, entry.blockIndex});
    if (options.compressed) out.Put(options.blockSize);  // the entry's compressed bytes
    if (!options.twoLocations) continue;
    // The second place lies further in, counted the same way as the first.
    out.Put(LocationRecord{entry.origin, entry.blockIndex + options.copyOffset});
  }
}

int CheckOptions(const PackOptions& options, uint64_t diskSize, std::string* error) {
  if (options.sectorSize == 0 || options.blockSize == 0 ||
      options.blockSize % options.sectorSize != 0) {
    *error = "the block size must be a non-zero multiple of the sector size";
    return 1;
  }
  if (diskSize == 0 || diskSize % options.blockSize != 0) {
    *error = "the disk image's size must be a non-zero multiple of the block size";
    return 1;
  }
  if (options.validationSize != 0 && options.validationSize < 12) {
    *error = "a validation area holds at least one 12-byte entry";
    return 1;
  }
  if (options.storeVersion != 1 && options.storeVersion != 2) {
    *error = "the store version must be 1 or 2";
    return 1;
  }
  if (diskSize / options.blockSize > 0xFFFFFFFFull) {
    *error = "the disk image has too many blocks";
    return 1;
  }
  bool knownDamage = options.damage.empty();
  for (const char* name : kDamageNames) knownDamage = knownDamage || options.damage == name;
  if (!knownDamage) {
    *error = "unknown damage " + options.damage;
    return 1;
  }
  if (options.endInStoreHeader >= sizeof(StoreHeader)) {
    *error = "the file can only end inside the store header";
    return 1;
  }
  return 0;
}

// A signature whose trailing blanks are zero bytes.
void DamageSignature(std::vector<uint8_t>& data, uint64_t signature, size_t blanks) {
  size_t end = static_cast<size_t>(signature) + kSignatureLength;
  for (size_t i = 1; i <= blanks; ++i) data[end - i] = 0;
}

constexpr uint32_t kHashLength = 32;  // SHA-256

uint64_t CountChunks(uint64_t length, uint64_t chunk) {
  return chunk == 0 ? 0 : (length + chunk - 1) / chunk;
}

// SHA-256 of every chunk of the bytes given to it, in order; a last,
// shorter chunk is hashed as it is.
class ChunkHasher {
 public:
  explicit ChunkHasher(uint64_t chunk) : chunk(chunk), context(EVP_MD_CTX_new()) {
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  }
  ~ChunkHasher() { EVP_MD_CTX_free(context); }
  ChunkHasher(const ChunkHasher&) = delete;
  ChunkHasher& operator=(const ChunkHasher&) = delete;

  void Add(const uint8_t* data, size_t length) {
    while (chunk != 0 && length > 0) {
      size_t piece = static_cast<size_t>(std::min<uint64_t>(length, chunk - filled));
      EVP_DigestUpdate(context, data, piece);
      data += piece;
      length -= piece;
      filled += piece;
      if (filled == chunk) EndChunk();
    }
  }
  const std::vector<uint8_t>& Finish() {
    if (filled > 0) EndChunk();
    return table;
  }

 private:
  void EndChunk() {
    uint8_t digest[kHashLength];
    EVP_DigestFinal_ex(context, digest, nullptr);
    table.insert(table.end(), digest, digest + kHashLength);
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    filled = 0;
  }

  uint64_t chunk;
  EVP_MD_CTX* context;
  uint64_t filled = 0;
  std::vector<uint8_t> table;
};

// Everything in front of the payload, with a hash table of `tableSize` zero
// bytes for now; `at` receives where its parts begin.
ByteWriter BuildFront(const PackOptions& options, const std::vector<uint8_t>& catalog,
                      uint32_t tableSize, const std::string& manifest,
                      const std::vector<StoreSource>& stores, PackedLayout* at) {
  const uint64_t chunk = static_cast<uint64_t>(options.chunkKb) * 1024;
  ByteWriter out;
  SecurityHeader security{};
  security.headerSize = sizeof(SecurityHeader);
  std::memcpy(security.signature, kSecuritySignature, kSignatureLength);
  security.chunkSizeKb = options.chunkKb;
  security.hashAlgorithmId = options.hashAlgorithm;
  security.catalogSize = options.catalogSize;
  security.hashTableSize = tableSize;
  out.Put(security);
  // A built catalog is written over its place once the table is known.
  if (options.catalogSizeGiven) out.Fill(options.catalogSize, 0x30);
  else out.data.insert(out.data.end(), catalog.begin(), catalog.end());
  out.Fill(tableSize, 0);
  PadTo(out, out.data.size(), chunk);
  at->imageHeader = out.data.size();
  ImageHeader image{};
  image.headerSize = sizeof(ImageHeader);
  std::memcpy(image.signature, kImageSignature, kSignatureLength);
  image.manifestLength = static_cast<uint32_t>(manifest.size());
  image.chunkSizeKb = options.chunkKb;
  out.Put(image);
  at->manifest = out.data.size();
  out.Text(manifest);
  PadTo(out, out.data.size(), chunk);
  // Every store's header group, then (all blocks being of one size, the
  // groups end on a block boundary) the payloads in store order.
  at->storeHeader = out.data.size();
  for (size_t i = 0; i < stores.size(); ++i) {
    PackOptions storeOptions = options;
    storeOptions.sectorSize = stores[i].sectorSize;
    if (i > 0) at->storeHeaders.push_back(out.data.size());
    WriteStoreHeader(storeOptions, stores[i].plan, stores[i].payloadBlocks,
                     static_cast<uint32_t>(stores.size()), static_cast<uint32_t>(i + 1), out);
    if (i == 0) at->entries = out.data.size();
    WriteEntries(storeOptions, stores[i].plan, out);
    PadTo(out, out.data.size(), options.blockSize);
  }
  at->payload = out.data.size();
  at->payloadBytes = stores[0].payloadBlocks * options.blockSize;
  at->blockSize = options.blockSize;
  return out;
}

// Flips the last byte of each chunk named, once the table holds the right
// hashes, so that exactly those chunks no longer match.
int DamageChunks(const PackOptions& options, std::fstream& ffu, uint64_t imageStart,
                 uint64_t fileSize, std::string* error) {
  const uint64_t chunk = static_cast<uint64_t>(options.chunkKb) * 1024;
  uint64_t chunks = CountChunks(fileSize - imageStart, chunk);
  for (uint32_t index : options.damageChunks) {
    if (index >= chunks) {
      *error = "--damage-chunk " + std::to_string(index) + ": the image has " +
               std::to_string(chunks) + " chunks";
      return 1;
    }
    uint64_t last = std::min(imageStart + (index + 1) * chunk, fileSize) - 1;
    char byte = 0;
    ffu.seekg(static_cast<std::streamoff>(last));
    ffu.read(&byte, 1);
    byte = static_cast<char>(byte ^ 0xFF);
    ffu.seekp(static_cast<std::streamoff>(last));
    ffu.write(&byte, 1);
  }
  return 0;
}

// Opens a disk image and plans its entries, with the sector size of its own
// GPT unless the options name one.
int ReadSource(const PackOptions& requested, StoreSource& store, std::string* error) {
  store.disk = std::make_unique<std::ifstream>(store.path, std::ios::binary);
  std::ifstream& disk = *store.disk;
  if (!disk) {
    *error = "cannot open " + store.path;
    return 1;
  }
  disk.seekg(0, std::ios::end);
  store.diskSize = static_cast<uint64_t>(disk.tellg());
  PackOptions options = requested;
  if (options.sectorSize == 0 && DetectSectorSize(disk, &options.sectorSize, error) != 0) return 1;
  store.sectorSize = options.sectorSize;
  if (CheckOptions(options, store.diskSize, error) != 0) return 1;
  if (ReadGptLayout(disk, options.sectorSize, &store.layout, error) != 0) return 1;
  uint64_t diskBlocks = store.diskSize / options.blockSize;
  uint64_t tailFirstBlock =
      store.layout.backupEntriesSector * options.sectorSize / options.blockSize;
  if (PlanEntries(options, disk, diskBlocks, tailFirstBlock, &store.plan) != 0) {
    *error = "cannot read " + store.path;
    return 1;
  }
  for (const PlannedEntry& entry : store.plan) store.payloadBlocks += entry.blockCount;
  return 0;
}
// The catalog's bytes for the layout: a given file's, or one built for a
// table of zeros, as long as the final one; none for filler.
int FirstCatalog(PackOptions& options, std::vector<uint8_t>& catalog, std::string* error) {
  if (options.catalogSizeGiven) return 0;
  if (!options.catalogFile.empty()) {
    std::ifstream file(options.catalogFile, std::ios::binary);
    catalog.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
      *error = "cannot read " + options.catalogFile;
      return 1;
    }
  } else {
    // One signing time for both builds, so that they are as long.
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    options.catalog.signingTime =
        epoch != nullptr ? std::strtoll(epoch, nullptr, 10) : std::time(nullptr);
    if (BuildCatalog(options.catalog, {}, catalog, error) != 0) return 1;
  }
  options.catalogSize = static_cast<uint32_t>(catalog.size());
  return 0;
}

// The built catalog, for the table as written: the real hashes, cut or
// followed by zeros to the table's size.
int WriteFinalCatalog(const PackOptions& options, std::vector<uint8_t> table, uint32_t tableSize,
                      std::fstream& ffu, std::string* error) {
  if (options.catalogSizeGiven || !options.catalogFile.empty()) return 0;
  table.resize(tableSize, 0);
  std::vector<uint8_t> catalog;
  if (BuildCatalog(options.catalog, table, catalog, error) != 0) return 1;
  if (catalog.size() != options.catalogSize) {
    *error = "the catalog's length changed with the hash table";
    return 1;
  }
  ffu.seekp(static_cast<std::streamoff>(sizeof(SecurityHeader)));
  ffu.write(reinterpret_cast<const char*>(catalog.data()),
            static_cast<std::streamsize>(catalog.size()));
  return 0;
}
}  // namespace

int PackFfu(const PackOptions& requested, const std::vector<std::string>& diskPaths,
            const std::string& outPath, PackedLayout* packed, std::string* error) {
  PackOptions options = requested;
  if (diskPaths.size() > 1) options.storeVersion = kStoreVersionWithStoreList;
  std::vector<StoreSource> stores(diskPaths.size());
  for (size_t i = 0; i < stores.size(); ++i) {
    stores[i].path = diskPaths[i];
    if (ReadSource(options, stores[i], error) != 0) return 1;
  }
  options.sectorSize = stores[0].sectorSize;
  uint64_t payloadBlocks = 0;
  for (const StoreSource& store : stores) payloadBlocks += store.payloadBlocks;

  std::vector<uint8_t> catalog;
  if (FirstCatalog(options, catalog, error) != 0) return 1;

  // The table's size moves the image header, which moves the paddings and
  // so the number of chunks: settle it.
  const uint64_t chunk = static_cast<uint64_t>(options.chunkKb) * 1024;
  const std::string manifest = BuildManifest(options, stores);
  uint32_t tableSize = options.hashTableSizeGiven ? options.hashTableSize : 0;
  uint64_t imageStart = 0;
  ByteWriter out;
  PackedLayout at;
  for (int round = 0; round < 8; ++round) {
    at = PackedLayout();
    out = BuildFront(options, catalog, tableSize, manifest, stores, &at);
    imageStart = at.imageHeader;
    uint64_t imageLength = out.data.size() - imageStart + payloadBlocks * options.blockSize;
    uint64_t wanted = CountChunks(imageLength, chunk) * kHashLength;
    if (options.hashTableSizeGiven || wanted == tableSize) break;
    if (wanted > 0xFFFFFFFFull) {
      *error = "the hash table would not fit its 32-bit size";
      return 1;
    }
    tableSize = static_cast<uint32_t>(wanted);
  }

  if (options.damage == "security-signature")
    DamageSignature(out.data, offsetof(SecurityHeader, signature), 1);
  if (options.damage == "image-signature")
    DamageSignature(out.data, at.imageHeader + offsetof(ImageHeader, signature), 2);
  if (options.endInStoreHeader != 0) {
    out.data.resize(static_cast<size_t>(at.storeHeader) + options.endInStoreHeader);
    for (StoreSource& store : stores) store.plan.clear();
    payloadBlocks = 0;
  }
  std::fstream ffu(outPath, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  ffu.write(reinterpret_cast<const char*>(out.data.data()),
            static_cast<std::streamsize>(out.data.size()));
  ChunkHasher hasher(chunk);
  hasher.Add(out.data.data() + imageStart, out.data.size() - imageStart);
  std::vector<char> buffer(options.blockSize);
  for (StoreSource& store : stores) {
    for (const PlannedEntry& entry : store.plan) {
      for (uint32_t i = 0; i < entry.blockCount; ++i) {
        if (!ReadBlock(*store.disk, entry.firstDiskBlock + i, buffer)) {
          *error = "cannot read " + store.path;
          return 1;
        }
        ffu.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        hasher.Add(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size());
      }
    }
  }
  uint64_t fileSize = out.data.size() + payloadBlocks * options.blockSize;
  const std::vector<uint8_t>& table = hasher.Finish();
  ffu.seekp(static_cast<std::streamoff>(sizeof(SecurityHeader) + options.catalogSize));
  ffu.write(reinterpret_cast<const char*>(table.data()),
            static_cast<std::streamsize>(std::min<uint64_t>(table.size(), tableSize)));
  if (WriteFinalCatalog(options, table, tableSize, ffu, error) != 0) {
    ffu.close();
    std::remove(outPath.c_str());
    return 1;
  }
  if (DamageChunks(options, ffu, imageStart, fileSize, error) != 0) {
    ffu.close();
    std::remove(outPath.c_str());
    return 1;
  }
  ffu.close();
  if (!ffu) {
    *error = "cannot write " + outPath;
    return 1;
  }
  *packed = at;
  return 0;
}
