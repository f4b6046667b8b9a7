#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/UniqueHandle.h"
#include "ffu/ChunkVerifier.h"
#include "ffu/FfuLayout.h"
#include "ffu/StoreDescription.h"
#include "win32.h"

class Manifest;
class ManifestCategory;

// One loaded FFU file: the open handle, the header copies, the catalog, hash
// table and manifest read from it, and the store description.
class FfuImage {
 public:
  FfuImage();
  ~FfuImage();
  FfuImage(const FfuImage&) = delete;
  FfuImage& operator=(const FfuImage&) = delete;

  // Opens the file and reads everything in front of the store header; the
  // file stays open, positioned at the store header.
  // Returns: 0 on success; otherwise the character count of the failure line
  // or the Win32 error code of a failed call, after printing it.
  int Load(const std::wstring& path);

  // Returns: the bytes that pad the security region up to a multiple of the
  // chunk (the image header's chunk size, else the security header's, in
  // units of `unit` bytes); 0 when neither header gives one, with a warning.
  uint64_t SecurityPadding(uint32_t unit);

  // Moves the file forward from `from` (its position) to `to`. While the
  // image is checked the bytes in between are read and checked, otherwise
  // they are skipped. A file that ends before `to` is left at `to`.
  // Returns: 0, or the Win32 code of the read or the move that failed.
  DWORD AdvanceTo(uint64_t from, uint64_t to);
  // Returns: the bytes from `position` to the next multiple of `unit`; 0 when
  // it is one already or `unit` is 0.
  static uint64_t AlignmentPadding(uint64_t position, uint64_t unit);

  // Parses the manifest text into `manifest` and makes the store
  // descriptions: of an image of several stores one from each "Store"
  // category, in order; else one from the first.
  void ReadManifest(std::string_view text);
  const std::vector<StoreDescription>& GetStores() const;
  // Returns: the description of store `index` (below GetStores().size()).
  const StoreDescription& StoreAt(size_t index) const;
  // Record where the parts of store `index` lie in the file, as the store
  // reader and the store set find them: its header, its first payload
  // block, and the end of its header group with its payload's length.
  void PlaceStoreHeader(size_t index, uint64_t offset);
  void PlacePayload(size_t index, uint64_t offset);
  void PlaceStoreEnds(size_t index, uint64_t headersEnd, uint64_t payloadBytes);
  // Returns: the first store description, nullptr when there is none.
  const StoreDescription* FirstStore() const;
  // Returns: the description of the store whose disk is made, nullptr when
  // there is none.
  const StoreDescription* ChosenStore() const;
  // Makes store `index` the one whose disk is made.
  void ChooseStore(size_t index);

  // Returns: the open image file.
  HANDLE File() const;
  // Returns: the file's size, taken once when it was opened.
  uint64_t FileSize() const;
  const SecurityHeader& GetSecurityHeader() const;
  const ImageHeader& GetImageHeader() const;
  // Returns: the catalog read from the security region.
  const std::vector<uint8_t>& GetCatalog() const;
  // Returns: the hash table read from the security region.
  const std::vector<uint8_t>& GetHashTable() const;
  // Returns: the parsed manifest; nullptr before ReadManifest.
  const Manifest* GetManifest() const;
  // Returns: the check of the image against its hash table, fed by every
  // read from the image header on.
  ChunkVerifier& ChunkCheck();
  const ChunkVerifier& ChunkCheck() const;

  // Why a "Store" category could not become a usable store description.
  enum StoreFault { kStoreFine = 0, kStoreSectorSizeInvalid, kStoreSectorCountInvalid };

 private:
  // Tests that lay an image out by hand or look at what a load kept
  // (tests/support/ImageInternals.h).
  friend struct ImageInternals;

  int OpenFile(const std::wstring& path);
  int ReadSecurityRegion(const std::wstring& path);
  int ReadImageRegion(const std::wstring& path);
  int ReadBuffer(std::vector<uint8_t>& buffer, uint32_t length, const std::wstring& path);
  int ParseManifest();
  void AddStore(const ManifestCategory& storeCategory);
  int LocateStore(const std::wstring& path);
  uint64_t ManifestEnd() const;
  uint64_t StoreHeaderOffset() const;
  void PeekStoreCount();
  int StartChunkCheck(const std::wstring& path);
  uint64_t Position();

  UniqueHandle file;
  uint32_t chunkUnit = 1024;
  std::unique_ptr<Manifest> manifest;
  std::vector<StoreDescription> stores;
  SecurityHeader securityHeader{};
  ImageHeader imageHeader{};
  std::vector<uint8_t> catalog;
  std::vector<uint8_t> hashTable;
  std::vector<uint8_t> manifestBytes;
  uint64_t fileSize = 0;  // taken once when the file is opened
  StoreFault storeFault = kStoreFine;
  // The store count the first store header declares, known before the
  // manifest is parsed (1 for a header without one).
  uint32_t declaredStoreCount = 1;
  size_t chosenStore = 0;  // index in `stores` of the store whose disk is made
  ChunkVerifier chunkCheck;
  bool positionFailed = false;
};
