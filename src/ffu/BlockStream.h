#pragma once

#include <cstdint>

#include "ffu/ChunkHashPool.h"
#include "ffu/ImageStream.h"

class FfuImage;
class StoreReader;

// Hands out a store's payload blocks one by one, in file order, read through
// the image stream in pieces of whole blocks: the hash pool checks the
// pieces read before while the caller places the latest blocks. A block
// handed out stays valid until the next one is asked for; the caller copies
// or writes it at once. One thread at a time.
class BlockStream {
 public:
  // `pieceBytes`: the most read at once (at least one block is).
  BlockStream(FfuImage& image, const StoreReader& reader, uint64_t pieceBytes,
              ChunkHashPool::Priority priority = ChunkHashPool::kNormalPriority);
  BlockStream(const BlockStream&) = delete;
  BlockStream& operator=(const BlockStream&) = delete;

  // Returns: false when the buffers could not be had.
  bool Ready() const { return stream.Ready(); }
  // Returns: 0 with `block` at the next payload block; ERROR_HANDLE_EOF once
  // the table's blocks are all handed out or the file ends first; the Win32
  // code of a failed read. Prints nothing.
  DWORD Next(const uint8_t*& block);
  // Returns once every block read has been hashed and taken into the check.
  void WaitAll() { stream.WaitAll(); }

 private:
  uint32_t blockSize;
  uint32_t capacity;  // blocks a piece holds
  uint64_t left;      // payload blocks not yet read
  ImageStream stream;
  const uint8_t* piece = nullptr;  // the blocks read last
  uint32_t held = 0;               // blocks read into `piece`
  uint32_t used = 0;               // of those, blocks handed out
};
