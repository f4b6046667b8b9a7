#include "ffu/ImageCheck.h"

#include <algorithm>

#include "common/Failure.h"
#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "common/StatusLine.h"
#include "ffu/CatalogCheck.h"
#include "ffu/ChunkHashPool.h"
#include "ffu/DamageReport.h"
#include "ffu/FfuImage.h"
#include "ffu/ImageStream.h"
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

// Reads [start, end) of the file in pieces through the stream, which hands
// each to the hash pool.
// Returns: 0, or the Win32 code of a failed or short read after printing it.
int ReadAll(ImageStream& stream, uint64_t end, uint64_t pieceBytes, StatusLine& status,
            const wchar_t* path) {
  const uint64_t start = stream.Position();
  const uint64_t total = end - start;
  int shown = 0;
  while (stream.Position() < end) {
    const uint8_t* data = nullptr;
    // ERROR_HANDLE_EOF: the file became shorter than it was when it was opened.
    DWORD error = stream.Next(std::min(end - stream.Position(), pieceBytes), data);
    if (error != 0) return FailWithError(error, path);
    int percent = static_cast<int>((stream.Position() - start) * 100 / total);
    if (percent != shown && stream.Position() < end) {
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
  StatusLine status;
  int result = 0;
  {
    ImageStream stream(image, start, pieceBytes, ChunkHashPool::kIdleUnlessAwaited);
    if (!stream.Ready()) {
      FailWithError(ERROR_NOT_ENOUGH_MEMORY);
      return Fail(kImageUnreadable);
    }
    status.ShowPercent(L"Checking image", 0, true);
    if (start < image.FileSize()) result = ReadAll(stream, image.FileSize(), pieceBytes, status, path);
    stream.WaitAll();
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
