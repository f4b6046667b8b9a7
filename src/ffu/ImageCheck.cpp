#include "ffu/ImageCheck.h"

#include <memory>
#include <new>
#include <vector>

#include "common/Failure.h"
#include "common/FileRange.h"
#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "common/StatusLine.h"
#include "ffu/CatalogCheck.h"
#include "ffu/ChunkHashPool.h"
#include "ffu/DamageReport.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
// Bytes read at once: large enough for the file system to read at the
// disk's speed, small enough to keep memory flat.
constexpr uint64_t kPieceBytes = 4u << 20;

// Pieces hold whole chunks where a chunk fits into one, so that no chunk
// waits for the next piece.
uint64_t PieceBytes(uint64_t chunkSize) {
  if (chunkSize == 0 || chunkSize > kPieceBytes) return kPieceBytes;
  return kPieceBytes / chunkSize * chunkSize;
}

int Fail(int code) {
  PrintErrorLine(L"Failed to check the image file.\n");
  return code;
}

// Reads [start, end) of the file into the buffers in turn and posts each
// piece to the pool.
// Returns: 0, or the Win32 code of a failed or short read after printing it.
int ReadAndPost(HANDLE file, uint64_t start, uint64_t end, uint64_t pieceBytes,
                std::vector<std::unique_ptr<uint8_t[]>>& buffers, ChunkHashPool& pool,
                StatusLine& status, const wchar_t* path) {
  int shown = 0;
  uint64_t total = end - start;
  for (uint64_t at = start, n = 0; at < end; ++n) {
    if (n >= buffers.size()) pool.WaitFor(n - buffers.size());
    uint8_t* buffer = buffers[n % buffers.size()].get();
    DWORD want = static_cast<DWORD>(end - at < pieceBytes ? end - at : pieceBytes);
    uint64_t got = 0;
    // ERROR_HANDLE_EOF: the file became shorter than it was when it was opened.
    DWORD error = ReadFileRange(file, at, buffer, want, &got);
    if (error != 0 && error != ERROR_HANDLE_EOF) return FailWithError(error, path);
    if (got == 0) return FailWithError(ERROR_HANDLE_EOF, path);
    pool.Post(at, buffer, got);
    at += got;
    int percent = static_cast<int>((at - start) * 100 / total);
    if (percent != shown && at < end) {
      status.ShowPercent(L"Checking image", percent, false);
      shown = percent;
    }
  }
  return 0;
}
}  // namespace

int CheckWholeImage(FfuImage& image, const DamageReport& report) {
  ChunkVerifier& check = image.ChunkCheck();
  const wchar_t* path = image.FirstStore() != nullptr ? image.FirstStore()->imagePath.c_str() : L"";
  uint64_t start = check.RegionStart();
  check.Start(image.GetSecurityHeader().hashAlgorithmId, image.GetSecurityHeader().chunkSizeKb,
              image.GetHashTable(), start, image.FileSize());
  if (!check.Checking()) {
    check.PrintPlan();
    return Fail(kImageUncheckable);
  }
  uint64_t pieceBytes = PieceBytes(check.ChunkSize());
  // One buffer more than the pool has threads: every thread hashes one
  // while the next is read.
  std::vector<std::unique_ptr<uint8_t[]>> buffers(ChunkHashPool::ThreadsWanted() + 1);
  for (std::unique_ptr<uint8_t[]>& buffer : buffers) {
    buffer.reset(new (std::nothrow) uint8_t[pieceBytes]);
    if (buffer == nullptr) {
      FailWithError(ERROR_NOT_ENOUGH_MEMORY);
      return Fail(kImageUnreadable);
    }
  }
  StatusLine status;
  status.ShowPercent(L"Checking image", 0, true);
  int result = 0;
  {
    // Declared after the buffers, so that it stops reading them first.
    ChunkHashPool pool(&check, static_cast<uint32_t>(buffers.size()),
                       ChunkHashPool::kIdleUnlessAwaited);
    if (start < image.FileSize())
      result = ReadAndPost(image.File(), start, image.FileSize(), pieceBytes, buffers, pool,
                           status, path);
    pool.WaitAll();
  }
  if (result != 0) return Fail(kImageUnreadable);
  check.Finish();
  status.Rewrite(L"Checking image ... ok   \n");
  if (!check.Checking()) {
    check.PrintBroken();
    return Fail(kImageUncheckable);
  }
  if (check.DamagedCount() != 0) report.Print();
  bool vouched = CheckImageCatalog(image) != CatalogCheck::kFailed;
  if (check.DamagedCount() != 0) {
    PrintWarningLine(
        L"The image is damaged: %u of its %u chunks do not match its "
        L"hash table.\n",
        check.DamagedCount(), check.ChunkCount());
    return kImageDamaged;
  }
  if (!vouched) {
    PrintWarningLine(L"The image matches its hash table (all %u chunks checked), but its catalog "
                     L"does not vouch for the table.\n",
                     check.ChunkCount());
    return kCatalogFailed;
  }
  PrintProgramLine(L"The image matches its hash table: all %u chunks checked.\n",
                   check.ChunkCount());
  return kImageIntact;
}
