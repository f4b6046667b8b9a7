#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ffu/ChunkHashPool.h"
#include "win32.h"

class FfuImage;

// Reads the image file in order from `start`, piece by piece, into a ring of
// buffers, one more than the hash pool has threads, and hands each piece to
// the pool as it is read: the image's check sees the file in order while
// every thread hashes a piece read before. A buffer is read into again only
// once the pool is done with it, so a piece stays valid until as many
// further pieces have been read as the ring holds buffers, less one. One
// thread at a time.
class ImageStream {
 public:
  // `pieceBytes`: the most a piece holds.
  ImageStream(FfuImage& image, uint64_t start, uint64_t pieceBytes,
              ChunkHashPool::Priority priority = ChunkHashPool::kNormalPriority);
  ImageStream(const ImageStream&) = delete;
  ImageStream& operator=(const ImageStream&) = delete;

  // Returns: false when the buffers could not be had.
  bool Ready() const;
  // Returns: the file offset of the next piece.
  uint64_t Position() const { return position; }
  // Reads the next `length` bytes (at most the piece size) and posts them.
  // Returns: 0 with `data` set; ERROR_HANDLE_EOF when the file ends first;
  // the Win32 code of a failed read. Prints nothing.
  DWORD Next(uint64_t length, const uint8_t*& data);
  // Returns once every piece read has been hashed and taken into the check.
  void WaitAll() { pool.WaitAll(); }

 private:
  HANDLE file;
  uint64_t position;
  uint64_t pieces = 0;  // read so far
  std::vector<std::unique_ptr<uint8_t[]>> buffers;
  // Declared after the buffers, so that it has stopped reading them before
  // they are released.
  ChunkHashPool pool;
};
