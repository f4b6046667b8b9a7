#include "ffu/StoreReader.h"

#include "common/Failure.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
constexpr uint64_t kEntryHeaderLength = sizeof(BlockEntryRecord);
constexpr uint64_t kLocationLength = sizeof(LocationRecord);

int PrintStoreError(const wchar_t* reason) {
  return FailWithLine(L"(Korvex) !ERROR! Unable to load the store because %s.\n", reason);
}
}  // namespace

uint32_t StoreReader::BlockSize() const { return header.blockSize; }
uint32_t StoreReader::EntryCount() const { return header.entryCount; }
uint16_t StoreReader::MajorVersion() const { return header.majorVersion; }
uint32_t StoreReader::ValidationLength() const { return header.validationLength; }

int StoreReader::LoadStore(FfuImage* boundImage) {
  if (image != nullptr) return 0;
  image = boundImage;
  if (image == nullptr || image->FirstStore() == nullptr)
    return PrintStoreError(L"the image describes no store");
  return ReadStore();
}

int StoreReader::ReadStore() {
  HANDLE file = image->file.Get();
  LARGE_INTEGER zero{};
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, zero, &end, FILE_END)) return Fail();
  fileSize = static_cast<uint64_t>(end.QuadPart);
  // A 64-bit seek, so that a store header beyond 4 GiB is found as well.
  position = image->FirstStore()->storeOffset;
  LARGE_INTEGER start{};
  start.QuadPart = static_cast<LONGLONG>(position);
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return Fail();
  int result = ReadExactly(&header, sizeof(header));
  if (result == 0 && truncated) return PrintStoreError(L"its header is truncated");
  if (result == 0 && MajorVersion() == kStoreVersionWithStoreList) result = ReadVersion2Fields();
  if (result == 0) result = CheckBlockSize();
  if (result == 0) result = SkipValidationArea();
  if (result == 0) result = ReadEntries();
  if (result == 0) result = SeekPayload();
  return result;
}

int StoreReader::ReadVersion2Fields() {
  StoreListFields fields{};
  int result = ReadExactly(&fields, sizeof(fields));
  if (result != 0) return result;
  if (truncated) return PrintStoreError(L"its header is truncated");
  storeCount = fields.storeCount;
  storeIndex = fields.storeIndex;
  storePayloadSize = fields.storePayloadSize;
  uint16_t pathLength = fields.devicePathLength;
  if (storeCount > 1)
    return PrintStoreError(L"the image holds more than one store, which is not supported yet");
  devicePath.assign(pathLength, 0);
  if (pathLength == 0) return 0;
  result = ReadExactly(devicePath.data(), pathLength * sizeof(uint16_t));
  if (result == 0 && truncated) return PrintStoreError(L"its header is truncated");
  return result;
}

int StoreReader::CheckBlockSize() {
  uint32_t blockSize = BlockSize();
  uint32_t sectorSize = image->FirstStore()->sectorSize;
  if (blockSize == 0) return PrintStoreError(L"its block size is 0");
  if (sectorSize == 0 || blockSize < sectorSize || blockSize % sectorSize != 0)
    return PrintStoreError(L"its block size is not a multiple of the sector size");
  return 0;
}

// The validation area lies between the header and the block data entries.
int StoreReader::SkipValidationArea() {
  uint64_t length = ValidationLength();
  validationOffset = position;
  entriesOffset = position;
  if (length == 0) return 0;
  if (length > fileSize - position)
    return PrintStoreError(L"its validation area is longer than the file");
  if (!image->AdvanceTo(position, position + length)) return Fail();
  position += length;
  entriesOffset = position;
  return 0;
}

int StoreReader::ReadEntries() {
  uint64_t count = EntryCount();
  // Every entry takes at least 8 bytes; the table is bounded by the file
  // before anything of the declared size is allocated.
  if (count * kEntryHeaderLength > fileSize - position)
    return PrintStoreError(L"its block data entries are longer than the file");
  entries.assign(count, BlockDataEntry());
  for (BlockDataEntry& entry : entries) {
    BlockEntryRecord record{};
    int result = ReadExactly(&record, sizeof(record));
    if (result != 0) return result;
    if (truncated) return PrintStoreError(L"its block data entries are truncated");
    uint64_t locationCount = record.locationCount;
    if (locationCount * kLocationLength > fileSize - position)
      return PrintStoreError(L"its block data entries are longer than the file");
    entry.locationCount = record.locationCount;
    entry.blockCount = record.blockCount;
    entry.locations.assign(locationCount, TargetLocation());
    for (TargetLocation& location : entry.locations) {
      LocationRecord place{};
      result = ReadExactly(&place, sizeof(place));
      if (result != 0) return result;
      location.origin = place.origin;
      location.blockIndex = place.blockIndex;
    }
  }
  return 0;
}

// The payload starts at the next multiple of the block size.
int StoreReader::SeekPayload() {
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  if (!SetFilePointerEx(image->file.Get(), zero, &now, FILE_CURRENT)) return Fail();
  uint64_t entriesEnd = static_cast<uint64_t>(now.QuadPart);
  uint64_t payload = entriesEnd + FfuImage::AlignmentPadding(entriesEnd, BlockSize());
  if (!image->AdvanceTo(entriesEnd, payload)) return Fail();
  this->entriesEnd = entriesEnd;
  payloadOffset = payload;
  return 0;
}

// Reads up to `length` bytes (at most a few KiB) at the tracked position;
// a read that ends early sets `truncated`.
int StoreReader::ReadExactly(void* buffer, uint64_t length) {
  DWORD got = 0;
  if (!ReadFile(image->file.Get(), buffer, static_cast<DWORD>(length), &got, nullptr))
    return Fail();
  image->chunkCheck.Feed(position, static_cast<const uint8_t*>(buffer), got);
  position += got;
  truncated = got != length;
  return 0;
}

int StoreReader::Fail() { return FailWithError(0, image->FirstStore()->imagePath.c_str()); }
