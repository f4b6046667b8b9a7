#include "ffu/ChunkVerifier.h"

#include <cstring>
#include <string>

#include "common/ProgramLines.h"
#include "platform.h"

namespace {
// Set to 1, the benchmark measures the copy without the check.
constexpr wchar_t kSwitchOffVariable[] = L"BRACKWEN_BENCH_NO_CHECK";

bool SwitchedOff() {
  wchar_t value[4] = {};
  DWORD length = GetEnvironmentVariableW(kSwitchOffVariable, value, 4);
  return length == 1 && value[0] == L'1';
}
}  // namespace

uint64_t ChunkVerifier::CountChunks(uint64_t regionLength, uint64_t chunkSize) {
  if (chunkSize == 0) return 0;
  return regionLength / chunkSize + (regionLength % chunkSize != 0 ? 1 : 0);
}

ChunkVerifier::Plan ChunkVerifier::Start(uint32_t algorithm, uint32_t chunkSizeKb,
                                         const std::vector<uint8_t>& hashTable,
                                         uint64_t start, uint64_t size) {
  // A check started again drops what its running hash held.
  if (chunkOpen) {
    uint8_t discard[kSha256Length];
    hash.Finish(discard);
  }
  algorithmId = algorithm;
  table = hashTable.data();
  tableSize = hashTable.size();
  regionStart = start;
  position = start;
  chunk = 0;
  chunkOpen = false;
  broken = false;
  outOfOrder = false;
  failure = 0;
  damagedCount = 0;
  firstDamaged.clear();
  fileSize = size;
  chunkSize = static_cast<uint64_t>(chunkSizeKb) * 1024;
  uint64_t regionLength = size > start ? size - start : 0;
  uint64_t chunks = CountChunks(regionLength, chunkSize);
  if (SwitchedOff())
    plan = kSwitchedOff;
  else if (algorithm != kHashAlgorithmSha256)
    plan = kUnknownAlgorithm;
  else if (chunkSize == 0)
    plan = kNoChunkSize;
  else if (tableSize % kSha256Length != 0 || tableSize / kSha256Length != chunks)
    plan = kWrongHashCount;
  else
    plan = kChecking;
  chunkCount = plan == kChecking ? static_cast<uint32_t>(chunks) : 0;
  if (plan == kChecking) {
    failure = hash.Open();
    if (BCRYPT_SUCCESS(failure)) failure = scratch.Open();
    if (!BCRYPT_SUCCESS(failure)) plan = kHashUnavailable;
  }
  return plan;
}

void ChunkVerifier::PrintPlan() const {
  switch (plan) {
    case kSwitchedOff:
      PrintWarningLine(L"The image is not checked against its hash table: %s is set.\n",
                       kSwitchOffVariable);
      break;
    case kUnknownAlgorithm:
      PrintWarningLine(L"The image cannot be checked: its hash algorithm 0x%X is not known.\n",
                       algorithmId);
      break;
    case kNoChunkSize:
      PrintWarningLine(L"The image cannot be checked: its chunk size is 0.\n");
      break;
    case kWrongHashCount: {
      uint64_t length = fileSize > regionStart ? fileSize - regionStart : 0;
      std::wstring chunks = std::to_wstring(CountChunks(length, chunkSize));
      PrintWarningLine(
          L"The image cannot be checked: its hash table of %u bytes does "
          L"not hold one hash for each of its %s chunks.\n",
          static_cast<uint32_t>(tableSize), chunks.c_str());
      break;
    }
    case kHashUnavailable:
      PrintWarningLine(
          L"The image cannot be checked: the system's SHA-256 is not "
          L"available (status 0x%X).\n",
          static_cast<uint32_t>(failure));
      break;
    case kNotStarted:
    case kChecking:
      break;
  }
}

void ChunkVerifier::Feed(uint64_t offset, const uint8_t* data, size_t length) {
  Range range;
  if (!Cut(offset, data, length, range)) return;
  HashOpenChunk(range);
  HashWholeChunks(range, scratch);
  Collect(range);
}

void ChunkVerifier::ResumeAt(uint32_t index) {
  if (chunkOpen) {
    uint8_t discard[kSha256Length];
    hash.Finish(discard);
    chunkOpen = false;
  }
  chunk = index;
  position = regionStart + static_cast<uint64_t>(index) * chunkSize;
}

uint64_t ChunkVerifier::ChunkEnd(uint32_t index) const {
  uint64_t end = regionStart + (static_cast<uint64_t>(index) + 1) * chunkSize;
  return end < fileSize ? end : fileSize;
}

bool ChunkVerifier::Cut(uint64_t offset, const uint8_t* data, size_t length, Range& range) {
  range = Range();
  if (!Checking() || length == 0) return false;
  // Bytes past the size taken at the start have no hash in the table.
  if (offset != position || length > fileSize - position) {
    broken = true;
    outOfOrder = true;
    return false;
  }
  if (chunkOpen) {
    uint64_t room = ChunkEnd(chunk) - position;
    size_t piece = length < room ? length : static_cast<size_t>(room);
    range.head = Piece{data, piece};
    range.headChunk = chunk;
    range.headCloses = piece == room;
    data += piece;
    length -= piece;
    position += piece;
    if (range.headCloses) {
      ++chunk;
      chunkOpen = false;
    }
  }
  range.firstWhole = chunk;
  const uint8_t* wholeStart = data;
  while (length > 0 && length >= ChunkEnd(chunk) - position) {
    size_t piece = static_cast<size_t>(ChunkEnd(chunk) - position);
    data += piece;
    length -= piece;
    position += piece;
    ++chunk;
  }
  range.whole = Piece{wholeStart, static_cast<size_t>(data - wholeStart)};
  if (length > 0) {
    range.tail = Piece{data, length};
    position += length;
    chunkOpen = true;
  }
  return true;
}

void ChunkVerifier::HashOpenChunk(Range& range) {
  if (range.head.length > 0) {
    NTSTATUS status = hash.Add(range.head.data, range.head.length);
    uint8_t digest[kSha256Length];
    if (BCRYPT_SUCCESS(status) && range.headCloses) status = hash.Finish(digest);
    if (!BCRYPT_SUCCESS(status)) {
      range.failure = status;
      return;
    }
    if (range.headCloses) Compare(digest, range.headChunk, range);
  }
  if (range.tail.length > 0) {
    NTSTATUS status = hash.Add(range.tail.data, range.tail.length);
    if (!BCRYPT_SUCCESS(status)) range.failure = status;
  }
}

void ChunkVerifier::HashWholeChunks(Range& range, Sha256Hash& with) const {
  const uint8_t* data = range.whole.data;
  size_t left = range.whole.length;
  for (uint32_t index = range.firstWhole; left > 0 && range.failure == 0; ++index) {
    uint64_t start = regionStart + static_cast<uint64_t>(index) * chunkSize;
    size_t piece = static_cast<size_t>(ChunkEnd(index) - start);
    uint8_t digest[kSha256Length];
    NTSTATUS status = with.Add(data, piece);
    if (BCRYPT_SUCCESS(status)) status = with.Finish(digest);
    if (!BCRYPT_SUCCESS(status)) {
      range.failure = status;
      return;
    }
    Compare(digest, index, range);
    data += piece;
    left -= piece;
  }
}

void ChunkVerifier::Compare(const uint8_t digest[kSha256Length], uint32_t index,
                            Range& range) const {
  // The plan made sure that the table holds a hash for every chunk.
  if (index >= chunkCount ||
      std::memcmp(digest, table + static_cast<uint64_t>(index) * kSha256Length, kSha256Length) == 0)
    return;
  ++range.damagedCount;
  if (range.damaged.size() < kKeptDamaged) range.damaged.push_back(index);
}

void ChunkVerifier::Collect(const Range& range) {
  if (range.failure != 0) Fail(range.failure);
  damagedCount += range.damagedCount;
  for (uint32_t index : range.damaged)
    if (firstDamaged.size() < kKeptDamaged) firstDamaged.push_back(index);
}

void ChunkVerifier::Finish() {
  if (!Checking()) return;
  if (position != fileSize) {
    broken = true;
    outOfOrder = true;
  }
}

void ChunkVerifier::Fail(NTSTATUS status) {
  broken = true;
  failure = status;
}

void ChunkVerifier::PrintBroken() const {
  if (plan != kChecking || !broken) return;
  if (outOfOrder)
    PrintWarningLine(L"The image cannot be checked: it was not read in file order.\n");
  else
    PrintWarningLine(L"The image cannot be checked: hashing failed (status 0x%X).\n",
                     static_cast<uint32_t>(failure));
}
