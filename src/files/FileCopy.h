#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/StatusLine.h"
#include "files/FileTree.h"

// Copies a file, or a folder and everything under it, out of a file tree to
// a new path, with the files' modification times. What it made is removed
// again when it fails or is interrupted.
class FileCopy {
 public:
  FileCopy(FileTree& tree, uint64_t totalBytes) : tree(tree), total(totalBytes) {}
  ~FileCopy();
  // Returns: 0; otherwise non-zero after the lines that say why.
  int Copy(const std::vector<std::string>& from, const FileNode& node, const std::wstring& to);
  void Keep() { made.clear(); }

  // Returns: the bytes of the files under `from`, for the status line.
  static uint64_t CountBytes(FileTree& tree, const std::vector<std::string>& from,
                             const FileNode& node);

 private:
  int CopyFolder(const std::vector<std::string>& from, const std::wstring& to);
  int CopyFile(const std::vector<std::string>& from, const FileNode& node, const std::wstring& to);
  void ShowProgress();

  FileTree& tree;
  uint64_t total;
  uint64_t copied = 0;
  int shownPercent = -1;
  StatusLine status;
  std::vector<std::pair<std::wstring, bool>> made;  // path, is a folder
};
