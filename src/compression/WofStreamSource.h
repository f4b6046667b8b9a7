#pragma once

#include <cstddef>
#include <cstdint>

// The compressed stream of one file, as the file system reads it.
class WofStreamSource {
 public:
  virtual ~WofStreamSource() = default;
  // Reads exactly `length` bytes of the stream at `offset` into `buffer`.
  // Returns: 0; anything else when the bytes cannot all be read (a range
  // past the stream's end is such a failure).
  virtual int ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
};
