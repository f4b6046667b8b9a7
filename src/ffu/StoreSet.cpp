#include "ffu/StoreSet.h"

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
uint64_t PayloadBytes(const StoreReader& reader) {
  return reader.PayloadBlocks() * reader.BlockSize();
}
}  // namespace

int StoreSet::Load(FfuImage* loadedImage) {
  image = loadedImage;
  readers.clear();
  readers.push_back(std::make_unique<StoreReader>());
  int result = readers[0]->LoadStore(image);
  if (result != 0) return result;
  const uint32_t count = readers[0]->StoreCount();
  if (count <= 1) return 0;
  if (image->GetStores().size() != count)
    return PrintErrorLine(
        L"Unable to load the stores because the image holds %u stores and its "
        L"manifest describes %u.\n",
        count, static_cast<uint32_t>(image->GetStores().size()));
  for (size_t i = 0; i < count && result == 0; ++i) result = LoadNext(i);
  if (result == 0) result = PlacePayloads();
  return result;
}

// Each header group starts where the one before it ends, padding included.
int StoreSet::LoadNext(size_t index) {
  if (index > 0) {
    image->PlaceStoreHeader(index, readers[index - 1]->PayloadOffset());
    readers.push_back(std::make_unique<StoreReader>());
    int result = readers[index]->LoadStore(image, index);
    if (result != 0) return result;
  }
  const StoreReader& reader = *readers[index];
  if (reader.MajorVersion() != kStoreVersionWithStoreList ||
      reader.StoreCount() != readers[0]->StoreCount() || reader.StoreIndex() != index + 1)
    return PrintErrorLine(
        L"Unable to load store %u because its header does not say that it is "
        L"store %u of %u.\n",
        static_cast<uint32_t>(index + 1), static_cast<uint32_t>(index + 1),
        static_cast<uint32_t>(readers[0]->StoreCount()));
  return 0;
}

// After the last header group come the payloads, in store order.
int StoreSet::PlacePayloads() {
  const uint64_t groupsEnd = readers.back()->PayloadOffset();
  uint64_t end = groupsEnd;
  for (size_t i = 0; i < readers.size(); ++i) {
    StoreReader& reader = *readers[i];
    const uint32_t number = static_cast<uint32_t>(i + 1);
    uint64_t start = end + FfuImage::AlignmentPadding(end, reader.BlockSize());
    uint64_t bytes = PayloadBytes(reader);
    if (bytes != reader.StorePayloadSize())
      return PrintErrorLine(
          L"Unable to load store %u because its block data entries take %s "
          L"bytes of payload and its header declares %s.\n",
          number, std::to_wstring(bytes).c_str(),
          std::to_wstring(reader.StorePayloadSize()).c_str());
    if (start > image->FileSize() || bytes > image->FileSize() - start)
      return PrintErrorLine(
          L"Unable to load store %u because its payload lies beyond the end of "
          L"the file.\n",
          number);
    image->PlaceStoreEnds(
        i, i + 1 < readers.size() ? image->StoreAt(i + 1).storeOffset : groupsEnd, bytes);
    image->PlacePayload(i, start);
    end = start + bytes;
  }
  return 0;
}

int StoreSet::SeekPayload(size_t index) {
  if (readers.size() <= 1) return 0;
  uint64_t from = readers.back()->EntriesEnd();
  from += FfuImage::AlignmentPadding(from, readers.back()->BlockSize());
  if (const DWORD error = image->AdvanceTo(from, readers[index]->PayloadOffset()); error != 0)
    return FailWithError(error, image->StoreAt(index).imagePath.c_str());
  return 0;
}
