#include "vdisk/BlockRun.h"

#include <cstring>
#include <new>

#include "common/Failure.h"

namespace {
// Unbuffered disk I/O wants buffers aligned to the sector, and sectors are at
// most this large.
constexpr std::align_val_t kBufferAlignment{4096};
}  // namespace

BlockRun::BlockRun(uint32_t blockSize, uint32_t capacityBlocks)
    : blockSize(blockSize), capacity(capacityBlocks) {
  size_t bytes = static_cast<size_t>(blockSize) * capacityBlocks;
  buffer.reset(static_cast<uint8_t*>(operator new[](bytes, kBufferAlignment, std::nothrow)));
}

BlockRun::~BlockRun() = default;

void BlockRun::AlignedDelete::operator()(uint8_t* bytes) const {
  operator delete[](bytes, kBufferAlignment);
}

bool BlockRun::Continues(uint64_t target) const {
  return blocks < capacity &&
         (blocks == 0 || target == start + static_cast<uint64_t>(blocks) * blockSize);
}

void BlockRun::Append(const uint8_t* block, uint64_t target) {
  std::memcpy(buffer.get() + static_cast<size_t>(blocks) * blockSize, block, blockSize);
  if (blocks == 0) start = target;
  ++blocks;
}

DWORD BlockRun::Flush(HANDLE diskHandle) {
  if (blocks == 0) return 0;
  DWORD code = Write(diskHandle, start, blocks * blockSize);
  blocks = 0;
  return code;
}

int BlockRun::WriteBlockTo(HANDLE diskHandle, const uint64_t* targets, size_t count,
                           const wchar_t* diskPath) {
  blocks = 0;
  for (size_t i = 0; i < count; ++i) {
    DWORD code = Write(diskHandle, targets[i], blockSize);
    if (code != 0) return FailWithError(code, diskPath);
  }
  return 0;
}

DWORD BlockRun::Write(HANDLE diskHandle, uint64_t offset, uint32_t length) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD written = 0;
  if (!SetFilePointerEx(diskHandle, position, nullptr, FILE_BEGIN) ||
      !WriteFile(diskHandle, buffer.get(), length, &written, nullptr)) {
    DWORD code = GetLastError();
    return code != 0 ? code : ERROR_GEN_FAILURE;
  }
  return 0;
}
