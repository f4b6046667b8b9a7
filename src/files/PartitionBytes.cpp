#include "files/PartitionBytes.h"

#include <cerrno>
#include <cstring>

#include "ffu/DiskView.h"

int PartitionBytes::Read(uint64_t offset, void* buffer, size_t count, size_t& got) const {
  got = 0;
  if (offset >= length) return 0;
  size_t piece = count < length - offset ? count : static_cast<size_t>(length - offset);
  if (memory != nullptr)
    std::memcpy(buffer, memory + offset, piece);
  else if (view->Read(start + offset, buffer, piece) != 0)
    return EIO;
  got = piece;
  return 0;
}
