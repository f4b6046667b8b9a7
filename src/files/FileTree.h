#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// What a folder entry or a looked-up path is.
enum class NodeKind { kFile, kFolder, kLink };

// One entry of a file system, as the file commands and the view show it.
struct FileNode {
  std::string name;  // UTF-8, as the file system stores it
  NodeKind kind = NodeKind::kFile;
  uint64_t id = 0;  // the same for every name of one file (hard links)
  uint64_t size = 0;
  uint32_t links = 1;
  uint32_t attributes = 0;    // FILE_ATTRIBUTE_* as Windows keeps them
  int64_t modified = 0;       // seconds since 1970
  uint32_t modifiedNanos = 0;
  int64_t accessed = 0;
  int64_t changed = 0;
  std::string linkTarget;     // kLink: where it points, with '/'
  uint32_t reparseTag = 0;    // 0 when the entry is no reparse point
  std::string compression;    // the algorithm of a file Windows keeps compressed, else empty
};

// One partition's file system, read only, in process. Paths are the parts
// of a path below the volume's root, already split; they are matched as
// the file system's own system matches them (NTFS: case-insensitively by
// the volume's upcase table). Every call returns 0 or an errno code, the
// codes a file system gives: ENOENT, ENOTDIR, EIO (bytes damaged in the
// image, or data the reader cannot read right, after one line that says
// why), ENOMEM. The libraries' headers clash with the Win32 names, so this
// layer speaks their language.
class FileTree {
 public:
  explicit FileTree(const std::string& label) : label(label) {}
  virtual ~FileTree() = default;
  virtual const wchar_t* Kind() const = 0;  // L"NTFS", L"FAT", L"exFAT"
  virtual int Find(const std::vector<std::string>& path, FileNode& node) = 0;
  // The folder's entries, but for those whose names no file can have: a
  // volume written elsewhere may hold any name, and a copy or the view would
  // take such a one (with '/', '\' or NUL in it, or "." or "..") for a path
  // out of its folder. Each one left out is said once.
  int List(const std::vector<std::string>& path, std::vector<FileNode>& entries);
  // Reads up to `length` bytes of the file's data from `offset`; `got` is
  // short only at the end of the data.
  virtual int Read(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer,
                     size_t length, size_t& got) = 0;
  // The names of the file's alternate data streams, and one stream's bytes.
  virtual int Streams(const std::vector<std::string>& path, std::vector<std::string>& names) {
    (void)path;
    names.clear();
    return 0;
  }
  virtual int ReadStream(const std::vector<std::string>& path, const std::string& stream,
                           std::vector<uint8_t>& bytes) {
    (void)path, (void)stream, (void)bytes;
    return ENOENT;
  }

 protected:
  // Every entry of the folder, as the file system holds it.
  virtual int ListEntries(const std::vector<std::string>& path, std::vector<FileNode>& entries) = 0;
  // Says that the file at `path` is not read, and `why`.
  void SayUnreadable(const std::vector<std::string>& path, const char* why);

  std::string label;  // names the volume in lines

 private:
  bool KeepEntry(const std::vector<std::string>& path, const std::string& name);

  std::set<std::string> leftOut;  // folder and name of the entries said
};

// Splits a path at '/' and '\', dropping empty parts and ".".
std::vector<std::string> SplitPath(const std::string& path);
// The parts of a path below a volume's root, each after a '/'.
std::string JoinPath(const std::vector<std::string>& path);
