#include "ffu/FfuImage.h"

#include <cstring>

#include "common/Failure.h"
#include "common/FileRange.h"
#include "common/ProgramLines.h"
#include "ffu/Manifest.h"
#include "ffu/ManifestCategory.h"
#include "ffu/NumberRule.h"
#include "platform.h"

namespace {
bool SignatureMatches(const char* found, const char* wanted) {
  return std::memcmp(found, wanted, kSignatureLength) == 0;
}

const wchar_t kNotAFile[] = L"it is not a regular file";
constexpr uint32_t kMaxManifestLength = 1 << 20;
// A signed catalog is a few kilobytes; the hash table holds one 32-byte hash
// a chunk, so 256 MiB covers an image of 1 TiB in 128 KiB chunks. Longer
// ones are not read into memory.
constexpr uint32_t kMaxCatalogSize = 16u << 20;
constexpr uint32_t kMaxHashTableSize = 256u << 20;

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int PrintLoadError(const wchar_t* reason) {
  return PrintErrorLine(L"Unable to load image because %s.\n", reason);
}

// Reads one header and checks that it gives its own size and carries its
// signature. A file that ends early leaves the header's unread part at zero,
// which then fails that check.
template <typename Header>
int ReadHeader(HANDLE file, Header& header, const char* signature, const wchar_t* name,
               const std::wstring& path) {
  DWORD got = 0;
  if (!ReadFile(file, &header, sizeof(header), &got, nullptr))
    return FailWithError(0, path.c_str());
  if (header.headerSize != sizeof(Header) || !SignatureMatches(header.signature, signature))
    return PrintErrorLine(L"Unable to load image because the %s header is invalid.\n", name);
  return 0;
}
}  // namespace

FfuImage::FfuImage() = default;

FfuImage::~FfuImage() = default;

int FfuImage::Load(const std::wstring& path) {
  int result = OpenFile(path);
  if (result == 0) result = ReadSecurityRegion(path);
  if (result == 0) result = StartChunkCheck(path);
  if (result == 0) result = ReadImageRegion(path);
  if (result == 0) PeekStoreCount();
  if (result == 0) result = ParseManifest();
  if (result == 0) result = LocateStore(path);
  return result;
}

int FfuImage::OpenFile(const std::wstring& path) {
  file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) {
    // A folder cannot be opened as a file; say so rather than "Access is denied".
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && IsFolder(path)) return PrintLoadError(kNotAFile);
    return FailWithError(error, path.c_str());
  }
  // Only files are images: a pipe or a device would block a read or never end.
  const DWORD type = GetFileType(file.Get());
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != ERROR_SUCCESS)
    return FailWithError(0, path.c_str());
  if (type != FILE_TYPE_DISK) return PrintLoadError(kNotAFile);
  // The size bounds every length the headers declare.
  LARGE_INTEGER zero{};
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file.Get(), zero, &end, FILE_END) ||
      !SetFilePointerEx(file.Get(), zero, nullptr, FILE_BEGIN))
    return FailWithError(0, path.c_str());
  fileSize = static_cast<uint64_t>(end.QuadPart);
  return 0;
}

int FfuImage::ReadSecurityRegion(const std::wstring& path) {
  int result = ReadHeader(file.Get(), securityHeader, kSecuritySignature, L"security", path);
  if (result != 0) return result;
  // A file shorter than its header reads the missing bytes as zeros.
  uint64_t left = fileSize > sizeof(SecurityHeader) ? fileSize - sizeof(SecurityHeader) : 0;
  if (securityHeader.catalogSize > left)
    return PrintLoadError(L"the catalog is longer than the file");
  if (securityHeader.catalogSize > kMaxCatalogSize)
    return PrintLoadError(L"the catalog is longer than 16 MiB");
  result = ReadBuffer(catalog, securityHeader.catalogSize, path);
  if (result != 0) return result;
  left -= securityHeader.catalogSize;
  if (securityHeader.hashTableSize > left)
    return PrintLoadError(L"the hash table is longer than the file");
  if (securityHeader.hashTableSize > kMaxHashTableSize)
    return PrintLoadError(L"the hash table is longer than 256 MiB");
  result = ReadBuffer(hashTable, securityHeader.hashTableSize, path);
  if (result != 0) return result;
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(SecurityPadding(chunkUnit));
  if (!SetFilePointerEx(file.Get(), distance, nullptr, FILE_CURRENT))
    return FailWithError(0, path.c_str());
  return 0;
}

// The check starts at the image header, where the security region ends.
int FfuImage::StartChunkCheck(const std::wstring& path) {
  uint64_t start = Position();
  if (positionFailed) return FailWithError(0, path.c_str());
  chunkCheck.Start(securityHeader.hashAlgorithmId, securityHeader.chunkSizeKb, hashTable, start,
                   fileSize);
  return 0;
}

int FfuImage::ReadImageRegion(const std::wstring& path) {
  int result = ReadHeader(file.Get(), imageHeader, kImageSignature, L"image", path);
  if (result != 0) return result;
  // A header that passed its check was read whole.
  chunkCheck.Feed(chunkCheck.RegionStart(), reinterpret_cast<const uint8_t*>(&imageHeader),
                  sizeof(imageHeader));
  uint64_t position = Position();
  if (positionFailed) return FailWithError(0, path.c_str());
  uint64_t left = position < fileSize ? fileSize - position : 0;
  if (imageHeader.manifestLength > left)
    return PrintLoadError(L"the manifest is longer than the file");
  // Real manifests are a few kilobytes; the parse of a longer one would take
  // memory and time in proportion, so it is refused before it is read.
  if (imageHeader.manifestLength > kMaxManifestLength)
    return PrintLoadError(L"the manifest is longer than 1 MiB");
  result = ReadBuffer(manifestBytes, imageHeader.manifestLength, path);
  if (result == 0) chunkCheck.Feed(position, manifestBytes.data(), manifestBytes.size());
  return result;
}

// Reads exactly `length` bytes; a read that ends early is a read failure.
int FfuImage::ReadBuffer(std::vector<uint8_t>& buffer, uint32_t length,
                         const std::wstring& path) {
  buffer.assign(length, 0);
  if (length == 0) return 0;
  DWORD got = 0;
  if (!ReadFile(file.Get(), buffer.data(), length, &got, nullptr)) return FailWithError(0, path.c_str());
  if (got != length) return FailWithError(ERROR_HANDLE_EOF, path.c_str());
  return 0;
}

int FfuImage::ParseManifest() {
  // The text ends at its first zero byte, if it holds one.
  const char* bytes = reinterpret_cast<const char*>(manifestBytes.data());
  size_t length = manifestBytes.empty()
                      ? 0
                      : strnlen(bytes, manifestBytes.size());
  ReadManifest(std::string_view(bytes == nullptr ? "" : bytes, length));
  if (storeFault == kStoreSectorSizeInvalid)
    return PrintLoadError(L"the store's sector size is invalid");
  if (storeFault == kStoreSectorCountInvalid)
    return PrintLoadError(L"the store's sector count is invalid");
  if (stores.empty())
    return PrintLoadError(L"the manifest describes no store");
  return 0;
}

// The manifest follows the image header, which starts the checked region.
uint64_t FfuImage::ManifestEnd() const {
  return chunkCheck.RegionStart() + sizeof(imageHeader) + manifestBytes.size();
}

// The store header follows the manifest at the next multiple of the image
// chunk.
uint64_t FfuImage::StoreHeaderOffset() const {
  uint64_t position = ManifestEnd();
  if (imageHeader.chunkSizeKb != 0)
    position += AlignmentPadding(position, uint64_t{imageHeader.chunkSizeKb} * 1024);
  return position;
}

// Whether a second "Store" category describes a store of its own depends on
// the count the first store header declares, so it is read ahead of the
// manifest; the store reader reads and checks the header itself later.
void FfuImage::PeekStoreCount() {
  struct {
    StoreHeader header;
    StoreListFields fields;
  } start{};
  if (ReadFileRange(file.Get(), StoreHeaderOffset(), &start, sizeof(start)) == 0 &&
      start.header.majorVersion == kStoreVersionWithStoreList && start.fields.storeCount > 1)
    declaredStoreCount = start.fields.storeCount;
}

int FfuImage::LocateStore(const std::wstring& path) {
  const uint64_t position = StoreHeaderOffset();
  if (const DWORD error = AdvanceTo(ManifestEnd(), position); error != 0)
    return FailWithError(error, path.c_str());
  for (StoreDescription& each : stores) each.imagePath = path;
  StoreDescription& store = stores.front();
  store.storeOffset = position;
  if (position > fileSize || fileSize - position < sizeof(StoreHeader))
    return PrintLoadError(L"the store lies beyond the end of the file");
  return 0;
}

DWORD FfuImage::AdvanceTo(uint64_t from, uint64_t to) {
  if (chunkCheck.Checking() && to > from) {
    // Paddings and skipped areas are short; a bounded buffer reads them.
    uint8_t piece[64 * 1024];
    uint64_t end = to < fileSize ? to : fileSize;
    for (uint64_t at = from; at < end;) {
      uint64_t got = 0;
      DWORD error = ReadFileRange(file.Get(), at, piece,
                                  end - at < sizeof(piece) ? end - at : sizeof(piece), &got);
      chunkCheck.Feed(at, piece, static_cast<size_t>(got));
      if (error == ERROR_HANDLE_EOF) break;
      if (error != 0) return error;
      at += got;
    }
  }
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(to);
  return SetFilePointerEx(file.Get(), target, nullptr, FILE_BEGIN) ? 0 : GetLastError();
}

uint64_t FfuImage::Position() {
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  positionFailed = !SetFilePointerEx(file.Get(), zero, &now, FILE_CURRENT);
  return positionFailed ? 0 : static_cast<uint64_t>(now.QuadPart);
}

uint64_t FfuImage::SecurityPadding(uint32_t unit) {
  uint32_t chunkKb = imageHeader.chunkSizeKb;
  if (chunkKb == 0) {
    chunkKb = securityHeader.chunkSizeKb;
    if (chunkKb == 0)
      PrintWarningLine(
          L"SecurityPadding: Neither of the headers has been "
          L"initialized with a chunk size.\n");
  }
  // In 64 bits: a chunk of 2^22 KiB or more does not fit 32 bits.
  uint64_t chunk = uint64_t{chunkKb} * unit;
  uint64_t used = sizeof(SecurityHeader);
  used += securityHeader.catalogSize;
  used += securityHeader.hashTableSize;
  return AlignmentPadding(used, chunk);
}

// A unit of 0 (a chunk size of 0) asks for no alignment.
uint64_t FfuImage::AlignmentPadding(uint64_t position, uint64_t unit) {
  if (unit == 0) return 0;
  uint64_t remainder = position % unit;
  return remainder == 0 ? 0 : unit - remainder;
}

void FfuImage::ReadManifest(std::string_view text) {
  manifest = std::make_unique<Manifest>(text, declaredStoreCount == 1);
  for (const ManifestCategory& storeCategory : manifest->StoreCategories()) AddStore(storeCategory);
}

// The sector size of every "Store" category is checked; in an image of one
// store the first one alone becomes the store description.
void FfuImage::AddStore(const ManifestCategory& storeCategory) {
  uint32_t sectorSize = 0;
  if (ParseManifestNumber(storeCategory.GetValue("SectorSize"), &sectorSize) !=
          kNumberValid ||
      sectorSize == 0)
    storeFault = kStoreSectorSizeInvalid;
  if (!stores.empty() && declaredStoreCount == 1) return;
  uint64_t sectorCount = 0;
  std::string countText = storeCategory.GetValue("MinSectorCount");
  // The disk's size in bytes must fit 64 bits as well.
  bool countValid = countText.empty() ||
                    (ParseManifestNumber(countText, &sectorCount) == kNumberValid &&
                     (sectorSize == 0 || sectorCount <= ~uint64_t{0} / sectorSize));
  if (!countValid && storeFault == kStoreFine) storeFault = kStoreSectorCountInvalid;
  StoreDescription store;
  store.minSectorCount = sectorCount;
  store.sectorSize = sectorSize;
  stores.push_back(store);
}

const std::vector<StoreDescription>& FfuImage::GetStores() const { return stores; }

const StoreDescription& FfuImage::StoreAt(size_t index) const { return stores[index]; }

void FfuImage::PlaceStoreHeader(size_t index, uint64_t offset) { stores[index].storeOffset = offset; }

void FfuImage::PlacePayload(size_t index, uint64_t offset) { stores[index].payloadOffset = offset; }

void FfuImage::PlaceStoreEnds(size_t index, uint64_t headersEnd, uint64_t payloadBytes) {
  stores[index].headersEnd = headersEnd;
  stores[index].payloadBytes = payloadBytes;
}

const StoreDescription* FfuImage::FirstStore() const {
  return stores.empty() ? nullptr : &stores.front();
}

const StoreDescription* FfuImage::ChosenStore() const {
  return chosenStore < stores.size() ? &stores[chosenStore] : nullptr;
}

void FfuImage::ChooseStore(size_t index) { chosenStore = index; }

HANDLE FfuImage::File() const { return file.Get(); }
uint64_t FfuImage::FileSize() const { return fileSize; }
const SecurityHeader& FfuImage::GetSecurityHeader() const { return securityHeader; }
const ImageHeader& FfuImage::GetImageHeader() const { return imageHeader; }
const std::vector<uint8_t>& FfuImage::GetCatalog() const { return catalog; }
const std::vector<uint8_t>& FfuImage::GetHashTable() const { return hashTable; }
const Manifest* FfuImage::GetManifest() const { return manifest.get(); }
ChunkVerifier& FfuImage::ChunkCheck() { return chunkCheck; }
const ChunkVerifier& FfuImage::ChunkCheck() const { return chunkCheck; }
