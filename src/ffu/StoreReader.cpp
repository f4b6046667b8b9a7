#include "ffu/StoreReader.h"

#include <algorithm>
#include <cstring>

#include "common/Failure.h"
#include "common/FileRange.h"
#include "common/ProgramLines.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
constexpr uint64_t kEntryHeaderLength = sizeof(BlockEntryRecord);
constexpr uint64_t kLocationLength = sizeof(LocationRecord);

int PrintStoreError(const wchar_t* reason) {
  return PrintErrorLine(L"Unable to load the store because %s.\n", reason);
}

const wchar_t kUnknownEntryLayout[] =
    L"its block data entries have a layout this reader does not know";

// A validation entry: where it compares and how many bytes of data follow.
struct ValidationRecord {
  uint32_t sectorIndex;
  uint32_t sectorOffset;
  uint32_t byteCount;
};
static_assert(sizeof(ValidationRecord) == 12, "validation entry");
}  // namespace

const StoreDescription& StoreReader::Store() const { return image->GetStores()[storeNumber]; }

uint32_t StoreReader::BlockSize() const { return header.blockSize; }
uint32_t StoreReader::EntryCount() const { return header.entryCount; }

uint64_t StoreReader::PayloadBlocks() const {
  uint64_t blocks = 0;
  for (const BlockDataEntry& entry : entries) blocks += entry.blockCount;
  return blocks;
}

uint16_t StoreReader::MajorVersion() const { return header.majorVersion; }
uint32_t StoreReader::ValidationLength() const { return header.validationLength; }

int StoreReader::LoadStore(FfuImage* boundImage, size_t boundStoreNumber) {
  if (image != nullptr) return 0;
  image = boundImage;
  storeNumber = boundStoreNumber;
  if (image == nullptr || image->FirstStore() == nullptr)
    return PrintStoreError(L"the image describes no store");
  return ReadStore();
}

int StoreReader::ReadStore() {
  fileSize = image->FileSize();
  position = Store().storeOffset;
  int result = ReadExactly(&header, sizeof(header));
  if (result == 0 && truncated) return PrintStoreError(L"its header is truncated");
  if (result == 0) result = CheckVersions();
  if (result == 0 && MajorVersion() == kStoreVersionWithStoreList) result = ReadVersion2Fields();
  if (result == 0) result = CheckBlockSize();
  if (result == 0) result = SkipValidationArea();
  if (result == 0) result = ReadEntries();
  if (result == 0) result = SeekPayload();
  return result;
}

// Only the versions whose layout is known are read: a header of another
// version may place its fields and entries otherwise.
int StoreReader::CheckVersions() {
  if (header.fullFlashMajorVersion == kCompressedFullFlashVersion)
    return PrintErrorLine(
        L"Unable to load the store because the image is compressed (full flash "
        L"version %u.%u); compressed images cannot be read yet.\n",
        header.fullFlashMajorVersion, header.fullFlashMinorVersion);
  if (header.fullFlashMajorVersion != kFullFlashVersion || header.fullFlashMinorVersion != 0)
    return PrintErrorLine(
        L"Unable to load the store because its full flash version %u.%u is not "
        L"one this reader knows (2.0).\n",
        header.fullFlashMajorVersion, header.fullFlashMinorVersion);
  bool known = (header.majorVersion == 1 || header.majorVersion == kStoreVersionWithStoreList) &&
               header.minorVersion == 0;
  if (!known)
    return PrintErrorLine(
        L"Unable to load the store because its store header version %u.%u is "
        L"not one this reader knows (1.0 or 2.0).\n",
        header.majorVersion, header.minorVersion);
  return 0;
}

int StoreReader::ReadVersion2Fields() {
  StoreListFields fields{};
  int result = ReadExactly(&fields, sizeof(fields));
  if (result != 0) return result;
  if (truncated) return PrintStoreError(L"its header is truncated");
  if (fields.storeCount == 0) return PrintStoreError(L"its header counts no store in the image");
  storeCount = fields.storeCount;
  storeIndex = fields.storeIndex;
  storePayloadSize = fields.storePayloadSize;
  uint16_t pathLength = fields.devicePathLength;
  devicePath.assign(pathLength, 0);
  if (pathLength == 0) return 0;
  result = ReadExactly(devicePath.data(), pathLength * sizeof(uint16_t));
  if (result == 0 && truncated) return PrintStoreError(L"its header is truncated");
  return result;
}

int StoreReader::CheckBlockSize() {
  uint32_t blockSize = BlockSize();
  uint32_t sectorSize = Store().sectorSize;
  if (blockSize == 0) return PrintStoreError(L"its block size is 0");
  if (sectorSize == 0 || blockSize < sectorSize || blockSize % sectorSize != 0)
    return PrintStoreError(L"its block size is not a multiple of the sector size");
  return 0;
}

// The validation area lies between the header and the block data entries:
// exactly its declared count of entries, each a record and its data.
int StoreReader::SkipValidationArea() {
  uint64_t length = ValidationLength();
  validationOffset = position;
  entriesOffset = position;
  if (length > fileSize - position)
    return PrintStoreError(L"its validation area is longer than the file");
  const uint64_t end = position + length;
  for (uint32_t i = 0; i < header.validationCount; ++i) {
    ValidationRecord record{};
    if (end - position < sizeof(record)) break;
    int result = ReadExactly(&record, sizeof(record));
    if (result != 0) return result;
    if (record.byteCount > end - position) break;
    if (const DWORD error = image->AdvanceTo(position, position + record.byteCount); error != 0)
      return Fail(error);
    position += record.byteCount;
    if (i + 1 == header.validationCount && position == end) {
      entriesOffset = position;
      return 0;
    }
  }
  if (header.validationCount == 0 && length == 0) return 0;
  return PrintStoreError(L"its validation entries have a layout this reader does not know");
}

// The entries must take exactly the declared length: a table of another
// layout (longer entries, a field of its own in between) never reads as
// this one. The declared length bounds the table before anything of the
// declared count is allocated.
int StoreReader::ReadEntries() {
  uint64_t count = EntryCount();
  const uint64_t length = header.entriesLength;
  if (length > fileSize - position)
    return PrintStoreError(L"its block data entries are longer than the file");
  const uint64_t end = position + length;
  if (count * kEntryHeaderLength > length) return PrintStoreError(kUnknownEntryLayout);
  entries.assign(count, BlockDataEntry());
  int result = ReadTable(length);
  if (result == 0) {
    aheadLimit = end;
    result = ReadEntryRecords(end);
  }
  aheadLimit = 0;
  ahead.clear();
  return result;
}

// The table, bounded by the file above, is read in one piece and parsed
// from memory; the check takes it as it is read. A file that ends inside it
// leaves the rest out, and the parse finds the table truncated.
int StoreReader::ReadTable(uint64_t length) {
  ahead.resize(static_cast<size_t>(length));
  aheadUsed = 0;
  uint64_t got = 0;
  DWORD error = ReadFileRange(image->File(), position, ahead.data(), length, &got);
  if (error != 0 && error != ERROR_HANDLE_EOF) return FailWithError(error, Store().imagePath.c_str());
  ahead.resize(static_cast<size_t>(got));
  image->ChunkCheck().Feed(position, ahead.data(), ahead.size());
  return 0;
}

int StoreReader::ReadEntryRecords(uint64_t end) {
  for (uint32_t i = 0; i < entries.size(); ++i) {
    BlockDataEntry& entry = entries[i];
    if (end - position < kEntryHeaderLength) return PrintStoreError(kUnknownEntryLayout);
    BlockEntryRecord record{};
    int result = ReadExactly(&record, sizeof(record));
    if (result != 0) return result;
    if (truncated) return PrintStoreError(L"its block data entries are truncated");
    uint64_t locationCount = record.locationCount;
    if (locationCount * kLocationLength > end - position)
      return PrintStoreError(kUnknownEntryLayout);
    entry.blockCount = record.blockCount;
    entry.locations.assign(locationCount, TargetLocation());
    for (TargetLocation& location : entry.locations) {
      LocationRecord place{};
      result = ReadExactly(&place, sizeof(place));
      if (result != 0) return result;
      if (truncated) return PrintStoreError(L"its block data entries are truncated");
      if (place.origin != kOriginDiskStart && place.origin != kOriginDiskEnd)
        return PrintErrorLine(
            L"Unable to load the store because block data entry %u names the "
            L"access method %u, which this reader does not know.\n",
            i, place.origin);
      location.origin = place.origin;
      location.blockIndex = place.blockIndex;
    }
  }
  if (position != end) return PrintStoreError(kUnknownEntryLayout);
  return 0;
}

// The payload starts at the next multiple of the block size.
int StoreReader::SeekPayload() {
  uint64_t payload = position + FfuImage::AlignmentPadding(position, BlockSize());
  if (const DWORD error = image->AdvanceTo(position, payload); error != 0) return Fail(error);
  entriesEnd = position;
  image->PlacePayload(storeNumber, payload);
  return 0;
}

// Reads up to `length` bytes (at most a few KiB) at the tracked position,
// from the table read already while inside it; a read that ends early sets
// `truncated`.
int StoreReader::ReadExactly(void* buffer, uint64_t length) {
  uint64_t got = 0;
  if (position < aheadLimit) {
    got = std::min<uint64_t>(length, ahead.size() - aheadUsed);
    std::memcpy(buffer, ahead.data() + aheadUsed, static_cast<size_t>(got));
    aheadUsed += static_cast<size_t>(got);
  } else {
    DWORD error = ReadFileRange(image->File(), position, buffer, length, &got);
    if (error != 0 && error != ERROR_HANDLE_EOF)
      return FailWithError(error, Store().imagePath.c_str());
    image->ChunkCheck().Feed(position, static_cast<const uint8_t*>(buffer), static_cast<size_t>(got));
  }
  position += got;
  truncated = got != length;
  return 0;
}

int StoreReader::Fail(uint32_t error) { return FailWithError(error, Store().imagePath.c_str()); }
