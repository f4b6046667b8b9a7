#pragma once

#include <string>
#include <vector>

#include "ffu/PartitionTable.h"

class FfuImage;
class StoreSet;

// What --ls, --copy and --view are asked to do.
struct FileRequest {
  enum Kind { kList, kCopy, kView };
  Kind kind = kList;
  std::wstring path;    // PARTITION/PATH; for --ls it may be empty
  std::wstring target;  // --copy: DEST; --view: the folder
  bool foreground = false;
};

// Returns: 0 when this build offers the file commands; 1 after the one line
// that says it does not.
int OfferFileCommands();

// Runs the request on a loaded image whose stores and partition tables are
// read. Exit codes: 0 done; 73 failed (after the lines that say why); 1 a
// request that cannot be run here.
int RunFileRequest(const FfuImage& image, const StoreSet& stores,
                   const std::vector<std::vector<ImagePartition>>& tables,
                   const FileRequest& request);
