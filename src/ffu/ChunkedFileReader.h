#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Sha256Hash.h"
#include "win32.h"

class FfuImage;

// Reads the image file with every chunk checked against the hash table the
// first time a read touches it. A chunk that matched is remembered and read
// straight from the file afterwards; a chunk that does not match fails every
// read that touches it, and its bytes are never handed out. The chunk last
// read stays in memory, so small reads in order read the file once.
// Without a usable hash table (see ChunkVerifier's plans) reads are not
// checked. One thread at a time.
class ChunkedFileReader {
 public:
  explicit ChunkedFileReader(const FfuImage& image);

  // Returns: true when reads are checked against the hash table.
  bool Checking() const { return checking; }
  // Reads `length` bytes of the file at `offset`.
  // Returns: 0; ERROR_CRC when a chunk the range touches does not match its
  // hash; the Win32 code of a failed read (ERROR_HANDLE_EOF when the file
  // ends first).
  DWORD Read(uint64_t offset, uint8_t* buffer, uint64_t length);
  // Returns: the damaged chunks found so far, in the order found.
  const std::vector<uint32_t>& Damaged() const { return damaged; }

 private:
  enum ChunkState : uint8_t { kUnread, kGood, kBad };
  DWORD ReadChunkPart(uint32_t index, uint64_t offset, uint8_t* buffer, uint64_t length);
  DWORD LoadChunk(uint32_t index);
  uint64_t ChunkStart(uint32_t index) const { return regionStart + index * chunkSize; }

  HANDLE file;
  const uint8_t* table = nullptr;
  uint64_t regionStart = 0;
  uint64_t chunkSize = 0;
  uint64_t fileSize = 0;
  bool checking = false;
  std::vector<uint8_t> states;
  std::vector<uint32_t> damaged;
  std::vector<uint8_t> chunk;  // the chunk last read whole
  uint32_t chunkIndex = 0;
  bool chunkHeld = false;
  Sha256Hash hash;
};
