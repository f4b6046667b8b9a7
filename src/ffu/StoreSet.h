#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "ffu/StoreReader.h"

class FfuImage;

// Every store of an image. A version 2 image may hold several, one for each
// storage device of its target: the header groups (store header with its
// store list fields and device path, validation entries, block data entries,
// padding up to the next multiple of that store's block size) follow each
// other, then come the payloads of store 1, store 2, ... in order, each
// starting at the next multiple of its store's block size.
class StoreSet {
 public:
  // Reads every header group in file order and places every payload. Checks
  // that every header gives the same store count and its own index (1, 2,
  // ... in order), that the manifest describes each store, and that each
  // payload takes exactly its declared size and lies in the file. Leaves
  // the file after the last header group.
  // Returns: 0 on success; otherwise the character count of the failure
  // line or the Win32 error code of a failed read, after printing it.
  int Load(FfuImage* image);

  // Moves the file on to the payload of store `index`, through the payloads
  // before it (which the image check reads).
  // Returns: 0, or the Win32 error code after printing it.
  int SeekPayload(size_t index);

  // Returns: the number of stores read; 0 before Load.
  size_t Count() const { return readers.size(); }
  StoreReader& Reader(size_t index) { return *readers[index]; }
  const StoreReader& Reader(size_t index) const { return *readers[index]; }

 private:
  int LoadNext(size_t index);
  int PlacePayloads();

  FfuImage* image = nullptr;
  std::vector<std::unique_ptr<StoreReader>> readers;
};
