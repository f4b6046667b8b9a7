#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/StatusLine.h"
#include "common/UniqueHandle.h"
#include "files/FileTree.h"

// Copies a file, or a folder and everything under it, out of a file tree to
// a new path, with the files' modification times. Each file takes its name
// only once it is complete. The new path's folder is held, and so is the
// new folder, and everything is made and removed through them: when another
// user swaps either folder for a link meanwhile, nothing is made or removed
// where it leads. What the copy made is removed again when it fails or is
// interrupted.
class FileCopy {
 public:
  FileCopy(FileTree& tree, uint64_t totalBytes) : tree(tree), total(totalBytes) {}
  ~FileCopy();
  // Returns: 0; otherwise non-zero after the lines that say why.
  int Copy(const std::vector<std::string>& from, const FileNode& node,
           const std::wstring& destination);
  void Keep() { made.clear(); }

  // Returns: the bytes of the files under `from`, for the status line.
  static uint64_t CountBytes(FileTree& tree, const std::vector<std::string>& from,
                             const FileNode& node);

 private:
  int CopyNode(const std::vector<std::string>& from, const FileNode& node, const std::wstring& to);
  int CopyFolder(const std::vector<std::string>& from, const std::wstring& to);
  int CopyFile(const std::vector<std::string>& from, const FileNode& node, const std::wstring& to);
  int WriteData(const std::vector<std::string>& from, const FileNode& node, HANDLE file,
                const std::wstring& to);
  // Reports the last error, or `code`, with the path the user knows for `to`.
  int Failed(const std::wstring& to, DWORD code = 0) const;
  void ShowProgress();

  FileTree& tree;
  uint64_t total;
  uint64_t copied = 0;
  int shownPercent = -1;
  StatusLine status;
  std::wstring destination;  // as the user gave it
  std::wstring top;          // the destination, reached through the held folder
  UniqueHandle parent;       // the destination's folder, held
  UniqueHandle folder;       // the destination itself, held once made
  std::vector<std::pair<std::wstring, bool>> made;  // path, is a folder
};
