#include "compression/WofFileReader.h"

#include <cstring>

#include "compression/ChunkDecoder.h"

namespace {

// Enough for a reader that reads on, a little behind and ahead of it.
constexpr size_t kCachedChunks = 8;

}  // namespace

WofFileReader::WofFileReader(WofStreamSource& source, uint64_t streamSize, const WofInfo& info,
                             uint64_t fileSize)
    : source(source), table(streamSize, info, fileSize) {
  cache.reserve(kCachedChunks);
}

WofFileReader::~WofFileReader() = default;

WofResult WofFileReader::Read(uint64_t offset, void* buffer, size_t length, size_t& done) {
  std::lock_guard<std::mutex> guard(lock);
  done = 0;
  uint64_t size = table.FileSize();
  if (offset >= size) return kWofOk;
  if (table.Info().chunkSize == 0) return kWofBadReparseData;
  if (length > size - offset) length = static_cast<size_t>(size - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t chunkSize = table.Info().chunkSize;
  size_t copied = 0;
  while (copied < length) {
    uint64_t at = offset + copied;
    uint64_t index = at / chunkSize;
    const uint8_t* bytes = nullptr;
    WofResult result = Chunk(index, bytes);
    if (result != kWofOk) return result;
    size_t within = static_cast<size_t>(at % chunkSize);
    size_t part = table.ChunkSize(index) - within;
    if (part > length - copied) part = length - copied;
    std::memcpy(out + copied, bytes + within, part);
    copied += part;
  }
  done = copied;
  return kWofOk;
}

WofResult WofFileReader::Chunk(uint64_t index, const uint8_t*& bytes) {
  CachedChunk* oldest = nullptr;
  for (CachedChunk& entry : cache) {
    if (entry.filled && entry.index == index) {
      entry.lastUse = ++useCount;
      bytes = entry.bytes.data();
      return kWofOk;
    }
    if (!oldest || !entry.filled || (oldest->filled && entry.lastUse < oldest->lastUse))
      oldest = &entry;
  }
  if (cache.size() < kCachedChunks) {
    cache.emplace_back();
    oldest = &cache.back();
  }
  oldest->filled = false;
  WofResult result = Decode(index, oldest->bytes);
  if (result != kWofOk) return result;
  oldest->index = index;
  oldest->lastUse = ++useCount;
  oldest->filled = true;
  bytes = oldest->bytes.data();
  return kWofOk;
}

WofResult WofFileReader::Decode(uint64_t index, std::vector<uint8_t>& out) {
  WofChunkTable::Place place;
  WofResult result = table.Locate(source, index, place, sourceError);
  if (result != kWofOk) return result;
  size_t size = table.ChunkSize(index);
  // Both at most one chunk: the table never lets a chunk store more.
  out.resize(size);
  compressed.resize(place.length);
  uint8_t* into = place.stored ? out.data() : compressed.data();
  sourceError = source.ReadAt(place.offset, into, place.length);
  if (sourceError != 0) return kWofStreamReadFailed;
  if (place.stored) return kWofOk;
  return DecompressChunk(table.Info().algorithm, compressed.data(), place.length, out.data(), size);
}
