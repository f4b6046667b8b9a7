// The file-system layer over a mutated partition image: whatever the bytes,
// opening the volume, walking its folders and reading its files and streams
// ends without a crash, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/FatTree.h"
#include "files/NtfsTree.h"
#include "files/PartitionBytes.h"
#include "volumes/FileSystemProbe.h"

namespace {
constexpr int kMostEntries = 256;  // a mutated folder may hold very many
constexpr int kDeepest = 8;

void Walk(FileTree& tree, std::vector<std::string>& path, int& budget) {
  std::vector<FileNode> entries;
  if (tree.List(path, entries) != 0) return;
  for (const FileNode& entry : entries) {
    if (--budget < 0) return;
    path.push_back(entry.name);
    FileNode found;
    tree.Find(path, found);
    std::vector<uint8_t> buffer(4096);
    size_t got = 0;
    for (uint64_t offset = 0; offset < 65536 && entry.kind == NodeKind::kFile; offset += got) {
      if (tree.Read(path, offset, buffer.data(), buffer.size(), got) != 0 || got == 0) break;
    }
    std::vector<std::string> streams;
    tree.Streams(path, streams);
    for (const std::string& stream : streams) {
      std::vector<uint8_t> bytes;
      tree.ReadStream(path, stream, bytes);
    }
    if (entry.kind == NodeKind::kFolder && path.size() < kDeepest) Walk(tree, path, budget);
    path.pop_back();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 512) return 0;
  PartitionBytes bytes(data, size, 512);
  std::wstring system = FileSystemName(data, size < kProbeBytes ? size : kProbeBytes);
  std::string why;
  std::unique_ptr<FileTree> tree;
  if (system == L"NTFS")
    tree = NtfsTree::Open(bytes, "fuzz", why);
  else if (system == L"FAT" || system == L"exFAT")
    tree = FatTree::Open(bytes, "fuzz", why);
  if (tree == nullptr) return 0;
  std::vector<std::string> path;
  int budget = kMostEntries;
  Walk(*tree, path, budget);
  return 0;
}
