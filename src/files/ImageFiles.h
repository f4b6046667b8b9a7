#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ffu/ChunkedFileReader.h"
#include "ffu/DiskView.h"
#include "ffu/PartitionTable.h"
#include "files/FileTree.h"
#include "files/PartitionBytes.h"

class FfuImage;
class StoreSet;

// What an image shows as files: a volume for each partition that holds a
// file system the program reads, named by its GPT name, and the raw bytes
// of each store's disk and of each partition. Every byte is read through
// one checked reader of the image file.
class ImageFiles {
 public:
  struct Volume {
    std::string name;  // UTF-8, unique among the volumes
    std::string fileSystem;
    std::unique_ptr<PartitionBytes> bytes;
    std::unique_ptr<FileTree> tree;
    bool opened = false;  // tried already (tree is null when it failed)
  };
  struct RawFile {
    std::string name;  // "disk.img", "MainOS.img", ...
    size_t store = 0;
    uint64_t start = 0;
    uint64_t length = 0;
  };

  // `stores` is loaded with `tables` (one per store); all must outlive this.
  ImageFiles(const FfuImage& image, const StoreSet& stores,
             const std::vector<std::vector<ImagePartition>>& tables);

  std::vector<Volume>& Volumes() { return volumes; }
  const std::vector<RawFile>& RawFiles() const { return raw; }
  // Returns: the volume whose name matches `name` as Windows matches
  // names, or nullptr.
  Volume* FindVolume(const std::string& name);
  // Opens the volume's file system at its first use.
  // Returns: the tree; nullptr when it cannot be read, after one line.
  FileTree* Tree(Volume& volume);
  // Reads a raw file's bytes; `got` is short at its end.
  // Returns: 0 or EIO.
  int ReadRaw(const RawFile& file, uint64_t offset, uint8_t* buffer, size_t length,
              size_t& got);
  // Returns: the bytes of the raw file that the image holds blocks for.
  uint64_t RawPayload(const RawFile& file) const;

 private:
  std::string UniqueName(const std::string& wanted, size_t store, uint32_t number) const;

  ChunkedFileReader reader;
  std::vector<std::unique_ptr<DiskView>> disks;
  std::vector<Volume> volumes;
  std::vector<RawFile> raw;
};
