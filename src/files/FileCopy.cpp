#include "files/FileCopy.h"

#include <cerrno>

#include "common/Interruption.h"
#include "common/ProgramLines.h"
#include "common/ReportWin32Error.h"
#include "common/UniqueHandle.h"
#include "files/FilePaths.h"
#include "files/TextCoding.h"
#include "platform.h"

namespace {
constexpr uint64_t kStatusFrom = 64ull << 20;  // smaller copies need no status line
constexpr size_t kPiece = 1 << 20;

FILETIME FileTimeOf(int64_t seconds, uint32_t nanos) {
  uint64_t ticks = static_cast<uint64_t>(seconds * 10000000 + 116444736000000000LL) + nanos / 100;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

std::wstring Shown(const std::vector<std::string>& path) {
  return PrintableName(Utf8ToWide(JoinPath(path)));
}

int ReadFailed(const std::vector<std::string>& from) {
  return PrintErrorLine(L"The file %s cannot be read.\n", Shown(from).c_str());
}
}  // namespace

FileCopy::~FileCopy() {
  for (auto it = made.rbegin(); it != made.rend(); ++it)
    it->second ? RemoveDirectoryW(it->first.c_str()) : DeleteFileW(it->first.c_str());
}

uint64_t FileCopy::CountBytes(FileTree& tree, const std::vector<std::string>& from,
                              const FileNode& node) {
  if (node.kind == NodeKind::kFile) return node.size;
  if (node.kind != NodeKind::kFolder) return 0;
  std::vector<FileNode> entries;
  if (tree.List(from, entries) != 0) return 0;
  uint64_t bytes = 0;
  for (const FileNode& entry : entries) {
    std::vector<std::string> path = from;
    path.push_back(entry.name);
    bytes += CountBytes(tree, path, entry);
  }
  return bytes;
}

int FileCopy::Copy(const std::vector<std::string>& from, const FileNode& node,
                   const std::wstring& to) {
  if (int stop = StopIfInterrupted()) return stop;
  if (node.kind == NodeKind::kLink) {
    if (!CreateSymbolicLinkW(to.c_str(), Utf8ToWide(node.linkTarget).c_str(), 0))
      return static_cast<int>(ReportWin32Error(0, to.c_str()));
    made.emplace_back(to, false);
    return 0;
  }
  if (node.kind == NodeKind::kFolder) return CopyFolder(from, to);
  return CopyFile(from, node, to);
}

int FileCopy::CopyFolder(const std::vector<std::string>& from, const std::wstring& to) {
  if (!CreateDirectoryW(to.c_str(), nullptr)) return static_cast<int>(ReportWin32Error(0, to.c_str()));
  made.emplace_back(to, true);
  std::vector<FileNode> entries;
  if (tree.List(from, entries) != 0)
    return PrintErrorLine(L"The folder %s cannot be read.\n", Shown(from).c_str());
  for (const FileNode& entry : entries) {
    std::vector<std::string> path = from;
    path.push_back(entry.name);
    if (int error = Copy(path, entry, to + L"/" + Utf8ToWide(entry.name))) return error;
  }
  return 0;
}

int FileCopy::CopyFile(const std::vector<std::string>& from, const FileNode& node,
                       const std::wstring& to) {
  UniqueHandle file(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return static_cast<int>(ReportWin32Error(0, to.c_str()));
  made.emplace_back(to, false);
  std::vector<uint8_t> buffer(kPiece);
  for (uint64_t offset = 0; offset < node.size;) {
    if (int stop = StopIfInterrupted()) return stop;
    size_t got = 0;
    if (tree.Read(from, offset, buffer.data(), buffer.size(), got) != 0 || got == 0)
      return ReadFailed(from);
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer.data(), static_cast<DWORD>(got), &written, nullptr))
      return static_cast<int>(ReportWin32Error(0, to.c_str()));
    offset += got;
    copied += got;
    ShowProgress();
  }
  FILETIME accessed = FileTimeOf(node.accessed, 0);
  FILETIME modified = FileTimeOf(node.modified, node.modifiedNanos);
  if (!SetFileTime(file.Get(), nullptr, &accessed, &modified))
    return static_cast<int>(ReportWin32Error(0, to.c_str()));
  HANDLE handle = file.Release();
  if (!CloseHandle(handle)) return static_cast<int>(ReportWin32Error(0, to.c_str()));
  return 0;
}

void FileCopy::ShowProgress() {
  if (total < kStatusFrom) return;
  int percent = static_cast<int>(copied * 100 / total);
  if (percent == shownPercent) return;
  status.ShowPercent(L"Copying files", percent, shownPercent < 0);
  shownPercent = percent;
}
