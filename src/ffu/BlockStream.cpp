#include "ffu/BlockStream.h"

#include <algorithm>

#include "ffu/StoreReader.h"

namespace {
uint32_t PieceBlocks(uint32_t blockSize, uint64_t pieceBytes) {
  return blockSize == 0 || blockSize >= pieceBytes ? 1
                                                   : static_cast<uint32_t>(pieceBytes / blockSize);
}
}  // namespace

BlockStream::BlockStream(FfuImage& image, const StoreReader& reader, uint64_t pieceBytes,
                         ChunkHashPool::Priority priority)
    : blockSize(reader.BlockSize()),
      capacity(PieceBlocks(blockSize, pieceBytes)),
      left(reader.PayloadBlocks()),
      stream(image, reader.PayloadOffset(), uint64_t{capacity} * blockSize, priority) {}

DWORD BlockStream::Next(const uint8_t*& block) {
  if (used == held) {
    if (left == 0) return ERROR_HANDLE_EOF;
    const uint32_t blocks = static_cast<uint32_t>(std::min<uint64_t>(capacity, left));
    DWORD error = stream.Next(uint64_t{blocks} * blockSize, piece);
    if (error != 0) return error;
    left -= blocks;
    held = blocks;
    used = 0;
  }
  block = piece + uint64_t{used++} * blockSize;
  return 0;
}
