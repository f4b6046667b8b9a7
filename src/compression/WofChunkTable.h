#pragma once

#include <cstdint>

#include "compression/WofReparse.h"
#include "compression/WofResult.h"
#include "compression/WofStreamSource.h"

// Where each chunk of a compressed file lies in its stream. The stream
// starts with one offset for every chunk but the first (4 bytes each, 8 when
// the file is 4 GiB or more), counted from the table's end; the first chunk
// starts right after the table and the last ends at the stream's end. A
// chunk whose stored size equals its size is kept whole, uncompressed.
// Offsets are read from the stream when a chunk is asked for, so the table
// costs no memory however large the file.
class WofChunkTable {
 public:
  WofChunkTable(uint64_t streamSize, const WofInfo& info, uint64_t fileSize);

  uint64_t FileSize() const { return fileSize; }
  const WofInfo& Info() const { return info; }
  uint64_t ChunkCount() const { return chunkCount; }
  // Uncompressed bytes of chunk `index` (the last may be short).
  uint32_t ChunkSize(uint64_t index) const;

  struct Place {
    uint64_t offset = 0;  // in the stream
    uint32_t length = 0;  // stored bytes
    bool stored = false;  // kept whole: the bytes are the chunk's own
  };
  // Finds chunk `index` (< ChunkCount()) through `source`, which reads
  // this table's stream.
  // Returns: kWofOk; kWofBadChunkTable when the table cannot hold the
  // chunks, or an offset goes backwards, past the stream, or leaves a chunk
  // more bytes than its size; kWofStreamReadFailed (with `sourceError` set)
  // when the table cannot be read.
  WofResult Locate(WofStreamSource& source, uint64_t index, Place& place, int& sourceError) const;

 private:
  WofResult ReadEntry(WofStreamSource& source, uint64_t entry, uint64_t& value,
                      int& sourceError) const;

  WofInfo info;
  uint64_t streamSize;
  uint64_t fileSize;
  uint64_t chunkCount;
  uint32_t entrySize;
  uint64_t tableSize;
};
