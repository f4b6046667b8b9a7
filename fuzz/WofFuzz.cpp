// Feeds arbitrary bytes to the reader of compressed system files: the first
// 24 bytes as the reparse point, the next 4 as the file's size (up to 4 MiB),
// the rest as the compressed stream, read whole and at a few ranges; then
// the stream as a single chunk of each algorithm, straight to the decoders.
#include <cstdint>
#include <cstring>
#include <vector>

#include "compression/ChunkDecoder.h"
#include "compression/WofFileReader.h"

namespace {
struct MemorySource : WofStreamSource {
  const uint8_t* bytes;
  size_t size;
  int ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset > size || length > size - offset) return 38;
    std::memcpy(buffer, bytes + offset, length);
    return 0;
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 28) return 0;
  WofInfo info;
  uint32_t fileSize;
  std::memcpy(&fileSize, data + 24, 4);
  fileSize %= 4u << 20;
  MemorySource source;
  source.bytes = data + 28;
  source.size = size - 28;
  static std::vector<uint8_t> out(4u << 20);
  if (ParseWofReparsePoint(data, 24, info) == kWofOk) {
    WofFileReader reader(source, source.size, info, fileSize);
    size_t done;
    reader.Read(0, out.data(), fileSize, done);
    reader.Read(fileSize / 3, out.data(), 70000, done);
    reader.Read(fileSize - fileSize / 5, out.data(), 5, done);
  }
  for (uint32_t algorithm = 0; algorithm < 4; algorithm++) {
    size_t chunk = algorithm == 1 ? 32768 : 4096u << (algorithm == 0 ? 0 : algorithm - 1);
    DecompressChunk(static_cast<WofAlgorithm>(algorithm), source.bytes, source.size, out.data(),
                    1 + fileSize % chunk);
  }
  return 0;
}
