#pragma once

#include <cstdint>
#include <memory>

#include "win32.h"

// Payload blocks that land one after another on the disk, gathered in one
// buffer so that they go to the disk in one write. The disk is opened
// without buffering, so the buffer is sector aligned and large writes keep
// the copy at the disk's speed.
class BlockRun {
 public:
  BlockRun(uint32_t blockSize, uint32_t capacityBlocks);
  ~BlockRun();
  BlockRun(const BlockRun&) = delete;
  BlockRun& operator=(const BlockRun&) = delete;

  bool Allocated() const { return buffer != nullptr; }
  bool Empty() const { return blocks == 0; }
  // True when a block for `target` extends the run and there is room for it.
  bool Continues(uint64_t target) const;
  // Copies a payload block into the run, to be written at `target`; the run
  // Continues(target).
  void Append(const uint8_t* block, uint64_t target);
  // Writes the run to the disk and empties it. Says nothing, so that it may
  // run on a thread of its own.
  // Returns: 0, or the Win32 code of the failed write.
  DWORD Flush(HANDLE diskHandle);
  // Empties the run without writing it.
  void Clear() { blocks = 0; }
  // Writes the one block the run holds to each of `count` places, for
  // entries that name several, and empties the run.
  // Returns: 0, or the Win32 code of the first failed write after reporting it.
  int WriteBlockTo(HANDLE diskHandle, const uint64_t* targets, size_t count,
                   const wchar_t* diskPath);
  // The bytes the run holds, as read from the image.
  const uint8_t* Data() const { return buffer.get(); }
  uint32_t Bytes() const { return blocks * blockSize; }

 private:
  // Returns: 0, or the Win32 code of the failed write.
  DWORD Write(HANDLE diskHandle, uint64_t offset, uint32_t length);

  // Frees a buffer with the alignment it was allocated with.
  struct AlignedDelete {
    void operator()(uint8_t* bytes) const;
  };
  std::unique_ptr<uint8_t[], AlignedDelete> buffer;
  uint32_t blockSize;
  uint32_t capacity;
  uint32_t blocks = 0;
  uint64_t start = 0;
};
