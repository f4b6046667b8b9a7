#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "files/FileTree.h"
#include "files/PartitionBytes.h"
#include "files/ReparseData.h"
#include "files/WofFile.h"

struct _ntfs_volume;
struct _ntfs_inode;
struct _ntfs_attr;

// An NTFS volume read through libntfs-3g, over our own device operations
// that read the partition's checked bytes. Lookups ignore case by the
// volume's own upcase table, as Windows does; compressed (LZNT1) and sparse
// data, alternate data streams, hard links and reparse points come from the
// library. Data the library would not read right (other reparse kinds,
// encrypted files, unknown compression) fails with EIO and one line.
class NtfsTree : public FileTree {
 public:
  // Returns: the open volume; nullptr when it cannot be opened, with
  // `why` set to the library's reason.
  static std::unique_ptr<NtfsTree> Open(const PartitionBytes& bytes, const std::string& label,
                                        std::string& why);
  ~NtfsTree() override;

  const wchar_t* Kind() const override { return L"NTFS"; }
  int Find(const std::vector<std::string>& path, FileNode& node) override;
  int Read(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer, size_t length,
           size_t& got) override;
  int Streams(const std::vector<std::string>& path, std::vector<std::string>& names) override;
  int ReadStream(const std::vector<std::string>& path, const std::string& stream,
                 std::vector<uint8_t>& bytes) override;
  // The file's reparse tag and data (empty with tag 0 for a file without).
  int Reparse(const std::vector<std::string>& path, ReparseData& reparse);
  // Reads up to `length` bytes of a named stream from `offset` (the
  // WofCompressedData of a compressed file, say); `got` is short at its end.
  int ReadStreamAt(const std::vector<std::string>& path, const std::string& stream,
                   uint64_t offset, uint8_t* buffer, size_t length, size_t& got);

 protected:
  int ListEntries(const std::vector<std::string>& path, std::vector<FileNode>& entries) override;

 private:
  explicit NtfsTree(const std::string& label) : FileTree(label) {}
  int OpenInode(const std::vector<std::string>& path, _ntfs_inode*& inode);
  int FillNode(_ntfs_inode* inode, size_t depth, FileNode& node);
  int OpenData(const std::vector<std::string>& path, const FileNode& node);
  int OpenWof(const std::vector<std::string>& path, const FileNode& node);
  int ReadWof(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer,
              size_t length, size_t& got);
  void CloseData();
  int Refuse(const std::vector<std::string>& path, uint64_t id, const char* why);

  _ntfs_volume* volume = nullptr;
  // The file read last stays open: reads come in runs on one file.
  std::string openPath;
  _ntfs_inode* openInode = nullptr;
  _ntfs_attr* openData = nullptr;
  std::unique_ptr<WofFile> openWof;  // instead of openData for a compressed file
  std::set<uint64_t> refused;  // files whose line was printed once
};
