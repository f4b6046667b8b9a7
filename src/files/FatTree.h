#pragma once

#include <memory>
#include <string>
#include <vector>

#include "files/FileTree.h"
#include "files/PartitionBytes.h"

struct TSK_IMG_INFO;
struct TSK_FS_INFO;

// A FAT or exFAT volume read through The Sleuth Kit's libtsk, over an
// external image that reads the partition's checked bytes. Names are the
// long names; lookups ignore case, as Windows does on these volumes.
class FatTree : public FileTree {
 public:
  // Returns: the open volume; nullptr when it cannot be opened, with `why`.
  static std::unique_ptr<FatTree> Open(const PartitionBytes& bytes, const std::string& label,
                                       std::string& why);
  ~FatTree() override;

  const wchar_t* Kind() const override { return kind; }
  int Find(const std::vector<std::string>& path, FileNode& node) override;
  int Read(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer, size_t length,
           size_t& got) override;

 protected:
  int ListEntries(const std::vector<std::string>& path, std::vector<FileNode>& entries) override;

 private:
  explicit FatTree(const std::string& label) : FileTree(label) {}
  int ListFolder(uint64_t folder, std::vector<FileNode>& entries);

  TSK_IMG_INFO* image = nullptr;
  TSK_FS_INFO* volume = nullptr;
  const wchar_t* kind = L"FAT";
};
