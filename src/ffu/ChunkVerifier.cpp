#include "ffu/ChunkVerifier.h"

#include <cstring>
#include <string>

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
  algorithmId = algorithm;
  table = hashTable.data();
  tableSize = hashTable.size();
  regionStart = start;
  position = start;
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
    if (!BCRYPT_SUCCESS(failure)) plan = kHashUnavailable;
  }
  return plan;
}

void ChunkVerifier::PrintPlan() const {
  switch (plan) {
    case kSwitchedOff:
      PrintWide(L"(Korvex) !WARNING! The image is not checked against its hash table: %s is set.\n",
                kSwitchOffVariable);
      break;
    case kUnknownAlgorithm:
      PrintWide(L"(Korvex) !WARNING! The image cannot be checked: its hash algorithm 0x%X is not known.\n",
                algorithmId);
      break;
    case kNoChunkSize:
      PrintWide(L"(Korvex) !WARNING! The image cannot be checked: its chunk size is 0.\n");
      break;
    case kWrongHashCount: {
      uint64_t length = fileSize > regionStart ? fileSize - regionStart : 0;
      std::wstring chunks = std::to_wstring(CountChunks(length, chunkSize));
      PrintWide(L"(Korvex) !WARNING! The image cannot be checked: its hash table of %u bytes does "
                L"not hold one hash for each of its %s chunks.\n",
                static_cast<uint32_t>(tableSize), chunks.c_str());
      break;
    }
    case kHashUnavailable:
      PrintWide(L"(Korvex) !WARNING! The image cannot be checked: the system's SHA-256 is not "
                L"available (status 0x%X).\n",
                static_cast<uint32_t>(failure));
      break;
    case kNotStarted:
    case kChecking:
      break;
  }
}

void ChunkVerifier::Feed(uint64_t offset, const uint8_t* data, size_t length) {
  if (!Checking() || length == 0) return;
  if (offset != position) {
    broken = true;
    outOfOrder = true;
    return;
  }
  while (length > 0 && Checking()) {
    uint64_t room = chunkSize - inChunk;
    size_t piece = length < room ? length : static_cast<size_t>(room);
    NTSTATUS status = hash.Add(data, piece);
    if (!BCRYPT_SUCCESS(status)) return Fail(status);
    data += piece;
    length -= piece;
    position += piece;
    inChunk += piece;
    if (inChunk == chunkSize) CompareChunk();
  }
}

void ChunkVerifier::Finish() {
  if (!Checking()) return;
  if (position != fileSize) {
    broken = true;
    outOfOrder = true;
    return;
  }
  if (inChunk > 0) CompareChunk();
}

void ChunkVerifier::CompareChunk() {
  uint8_t digest[kSha256Length];
  NTSTATUS status = hash.Finish(digest);
  if (!BCRYPT_SUCCESS(status)) return Fail(status);
  // Bytes past the last whole chunk of the table cannot be compared; the
  // plan made sure they do not exist.
  if (chunk < chunkCount &&
      std::memcmp(digest, table + static_cast<uint64_t>(chunk) * kSha256Length, kSha256Length) != 0) {
    ++damagedCount;
    if (firstDamaged.size() < kKeptDamaged) firstDamaged.push_back(chunk);
  }
  ++chunk;
  inChunk = 0;
}

void ChunkVerifier::Fail(NTSTATUS status) {
  broken = true;
  failure = status;
}

void ChunkVerifier::PrintBroken() const {
  if (plan != kChecking || !broken) return;
  if (outOfOrder)
    PrintWide(L"(Korvex) !WARNING! The image cannot be checked: it was not read in file order.\n");
  else
    PrintWide(L"(Korvex) !WARNING! The image cannot be checked: hashing failed (status 0x%X).\n",
              static_cast<uint32_t>(failure));
}
