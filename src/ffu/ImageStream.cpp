#include "ffu/ImageStream.h"

#include <new>

#include "common/FileRange.h"
#include "ffu/FfuImage.h"

ImageStream::ImageStream(FfuImage& image, uint64_t start, uint64_t pieceBytes,
                         ChunkHashPool::Priority priority)
    : file(image.File()),
      position(start),
      buffers(ChunkHashPool::ThreadsWanted() + 1),
      pool(&image.ChunkCheck(), static_cast<uint32_t>(buffers.size()), priority) {
  for (std::unique_ptr<uint8_t[]>& buffer : buffers)
    buffer.reset(new (std::nothrow) uint8_t[pieceBytes]);
}

bool ImageStream::Ready() const {
  for (const std::unique_ptr<uint8_t[]>& buffer : buffers)
    if (buffer == nullptr) return false;
  return true;
}

DWORD ImageStream::Next(uint64_t length, const uint8_t*& data) {
  // Every piece is posted once, so piece n has ticket n.
  if (pieces >= buffers.size()) pool.WaitFor(pieces - buffers.size());
  uint8_t* buffer = buffers[pieces % buffers.size()].get();
  DWORD error = ReadFileRange(file, position, buffer, length);
  if (error != 0) return error;
  pool.Post(position, buffer, static_cast<size_t>(length));
  position += length;
  ++pieces;
  data = buffer;
  return 0;
}
