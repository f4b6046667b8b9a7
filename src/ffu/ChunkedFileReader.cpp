#include "ffu/ChunkedFileReader.h"

#include <algorithm>
#include <cstring>

#include "common/FileRange.h"
#include "common/ProgramLines.h"
#include "ffu/FfuImage.h"
#include "platform.h"

ChunkedFileReader::ChunkedFileReader(const FfuImage& image) : file(image.File()) {
  const ChunkVerifier& check = image.ChunkCheck();
  fileSize = image.FileSize();
  if (check.GetPlan() != ChunkVerifier::kChecking) return;
  // A second hash of our own, so that reads do not disturb the running
  // check of the image's load.
  if (!BCRYPT_SUCCESS(hash.Open())) return;
  table = image.GetHashTable().data();
  regionStart = check.RegionStart();
  chunkSize = check.ChunkSize();
  states.assign(check.ChunkCount(), kUnread);
  checking = true;
}

DWORD ChunkedFileReader::Read(uint64_t offset, uint8_t* buffer, uint64_t length) {
  if (!checking || length == 0) return ReadFileRange(file, offset, buffer, length);
  // Bytes in front of the checked region (the security headers) have no hash.
  if (offset < regionStart) {
    uint64_t piece = std::min(length, regionStart - offset);
    DWORD error = ReadFileRange(file, offset, buffer, piece);
    if (error != 0) return error;
    offset += piece;
    buffer += piece;
    length -= piece;
  }
  while (length > 0) {
    uint64_t index = (offset - regionStart) / chunkSize;
    if (index >= states.size()) return ERROR_HANDLE_EOF;
    uint64_t end = std::min(ChunkStart(static_cast<uint32_t>(index)) + chunkSize, fileSize);
    uint64_t piece = std::min(length, end - offset);
    DWORD error = ReadChunkPart(static_cast<uint32_t>(index), offset, buffer, piece);
    if (error != 0) return error;
    offset += piece;
    buffer += piece;
    length -= piece;
  }
  return 0;
}

DWORD ChunkedFileReader::ReadChunkPart(uint32_t index, uint64_t offset, uint8_t* buffer,
                                       uint64_t length) {
  if (states[index] == kBad) return ERROR_CRC;
  if (states[index] == kGood && !(chunkHeld && chunkIndex == index))
    return ReadFileRange(file, offset, buffer, length);
  if (!(chunkHeld && chunkIndex == index)) {
    DWORD error = LoadChunk(index);
    if (error != 0) return error;
  }
  std::memcpy(buffer, chunk.data() + (offset - ChunkStart(index)), length);
  return 0;
}

// Reads chunk `index` whole, hashes it and keeps it when it matches.
DWORD ChunkedFileReader::LoadChunk(uint32_t index) {
  uint64_t start = ChunkStart(index);
  uint64_t length = std::min(chunkSize, fileSize - start);
  chunkHeld = false;
  chunk.resize(length);
  DWORD error = ReadFileRange(file, start, chunk.data(), length);
  if (error != 0) return error;
  uint8_t digest[kSha256Length];
  NTSTATUS status = hash.Add(chunk.data(), length);
  if (BCRYPT_SUCCESS(status)) status = hash.Finish(digest);
  if (!BCRYPT_SUCCESS(status)) return ERROR_CRC;
  if (std::memcmp(digest, table + static_cast<uint64_t>(index) * kSha256Length, kSha256Length)) {
    states[index] = kBad;
    damaged.push_back(index);
    PrintWarningLine(L"Chunk %u of the image does not match its hash; what lies in it is not "
                     L"read.\n",
                     index);
    return ERROR_CRC;
  }
  states[index] = kGood;
  chunkIndex = index;
  chunkHeld = true;
  return 0;
}
