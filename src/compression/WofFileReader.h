#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "compression/WofChunkTable.h"
#include "compression/WofReparse.h"
#include "compression/WofResult.h"
#include "compression/WofStreamSource.h"

// Reads any range of a compressed file's bytes, decompressing only the
// chunks the range touches and keeping the few used last, so that reading
// on from where the last read ended decompresses each chunk once. Safe to
// call from several threads (one at a time inside).
class WofFileReader {
 public:
  // `source` must outlive the reader; `streamSize` is the length of the
  // compressed stream, `fileSize` the file's size (its unnamed stream's).
  WofFileReader(WofStreamSource& source, uint64_t streamSize, const WofInfo& info,
                uint64_t fileSize);
  ~WofFileReader();
  WofFileReader(const WofFileReader&) = delete;
  WofFileReader& operator=(const WofFileReader&) = delete;

  uint64_t FileSize() const { return table.FileSize(); }
  const WofInfo& Info() const { return table.Info(); }

  // Reads up to `length` bytes of the file from `offset` into `buffer`;
  // `done` gets how many (fewer only at the file's end, 0 from it on).
  // Returns: kWofOk; any other result fails the whole read, and nothing
  // in `buffer` is to be used then. SourceError() tells the source's own
  // code after kWofStreamReadFailed.
  WofResult Read(uint64_t offset, void* buffer, size_t length, size_t& done);
  int SourceError() const { return sourceError; }

 private:
  struct CachedChunk {
    uint64_t index = 0;
    uint64_t lastUse = 0;
    bool filled = false;
    std::vector<uint8_t> bytes;
  };
  WofResult Chunk(uint64_t index, const uint8_t*& bytes);
  WofResult Decode(uint64_t index, std::vector<uint8_t>& out);

  WofStreamSource& source;
  WofChunkTable table;
  std::mutex lock;
  std::vector<CachedChunk> cache;
  std::vector<uint8_t> compressed;
  uint64_t useCount = 0;
  int sourceError = 0;
};
