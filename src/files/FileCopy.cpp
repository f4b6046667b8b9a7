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
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    if (it->first == top) folder.Reset();  // a folder held on Windows cannot be removed
    it->second ? RemoveDirectoryW(it->first.c_str()) : DeleteFileW(it->first.c_str());
  }
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
  destination = to;
  // "out/" names the folder out, as the shell's completion writes it.
  const size_t end = to.find_last_not_of(L"/\\");
  const std::wstring path = end == std::wstring::npos ? L"" : to.substr(0, end + 1);
  const size_t last = path.find_last_of(L"/\\");
  const std::wstring name = last == std::wstring::npos ? path : path.substr(last + 1);
  const std::wstring where = last == std::wstring::npos ? L"."
                             : last == 0                ? L"/"
                                                        : path.substr(0, last);
  if (name.empty() || name == L"." || name == L"..") return Failed(to, ERROR_INVALID_NAME);
  parent.Reset(HoldFolder(where.c_str(), true));
  if (!parent.Valid()) return Failed(to);
  top = HeldFolderPath(parent.Get()) + L"/" + name;
  return CopyNode(from, node, top);
}

int FileCopy::CopyNode(const std::vector<std::string>& from, const FileNode& node,
                       const std::wstring& to) {
  if (int stop = StopIfInterrupted()) return stop;
  if (node.kind == NodeKind::kLink) {
    if (!CreateSymbolicLinkW(to.c_str(), Utf8ToWide(node.linkTarget).c_str(), 0)) return Failed(to);
    made.emplace_back(to, false);
    return 0;
  }
  if (node.kind == NodeKind::kFolder) return CopyFolder(from, to);
  return CopyFile(from, node, to);
}

int FileCopy::CopyFolder(const std::vector<std::string>& from, const std::wstring& to) {
  if (!CreateDirectoryW(to.c_str(), nullptr)) return Failed(to);
  made.emplace_back(to, true);
  std::wstring inside = to;
  if (to == top) {
    folder.Reset(HoldFolder(to.c_str(), false));
    if (!folder.Valid()) return Failed(to);
    inside = HeldFolderPath(folder.Get());
  }
  std::vector<FileNode> entries;
  if (tree.List(from, entries) != 0)
    return PrintErrorLine(L"The folder %s cannot be read.\n", Shown(from).c_str());
  for (const FileNode& entry : entries) {
    std::vector<std::string> path = from;
    path.push_back(entry.name);
    if (int error = CopyNode(path, entry, inside + L"/" + Utf8ToWide(entry.name))) return error;
  }
  return 0;
}

int FileCopy::CopyFile(const std::vector<std::string>& from, const FileNode& node,
                       const std::wstring& to) {
  HANDLE held = INVALID_HANDLE_VALUE;
  UniqueHandle file(CreateUnnamedFile(to.c_str(), &held));
  UniqueHandle heldFolder(held);
  if (!file.Valid()) return Failed(to);
  if (int error = WriteData(from, node, file.Get(), to)) return error;
  if (!NameUnnamedFile(heldFolder.Get(), file.Get(), to.c_str())) return Failed(to);
  made.emplace_back(to, false);
  HANDLE handle = file.Release();
  if (!CloseHandle(handle)) return Failed(to);
  return 0;
}

int FileCopy::WriteData(const std::vector<std::string>& from, const FileNode& node, HANDLE file,
                        const std::wstring& to) {
  std::vector<uint8_t> buffer(kPiece);
  for (uint64_t offset = 0; offset < node.size;) {
    if (int stop = StopIfInterrupted()) return stop;
    size_t got = 0;
    if (tree.Read(from, offset, buffer.data(), buffer.size(), got) != 0 || got == 0)
      return ReadFailed(from);
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), static_cast<DWORD>(got), &written, nullptr))
      return Failed(to);
    offset += got;
    copied += got;
    ShowProgress();
  }
  FILETIME accessed = FileTimeOf(node.accessed, 0);
  FILETIME modified = FileTimeOf(node.modified, node.modifiedNanos);
  if (!SetFileTime(file, nullptr, &accessed, &modified)) return Failed(to);
  return 0;
}

int FileCopy::Failed(const std::wstring& to, DWORD code) const {
  std::wstring shown = to;
  const std::wstring inside = folder.Valid() ? HeldFolderPath(folder.Get()) : L"";
  if (to == top)
    shown = destination;
  else if (!inside.empty() && to.compare(0, inside.size(), inside) == 0)
    shown = destination + to.substr(inside.size());
  return static_cast<int>(ReportWin32Error(code, shown.c_str()));
}

void FileCopy::ShowProgress() {
  if (total < kStatusFrom) return;
  int percent = static_cast<int>(copied * 100 / total);
  if (percent == shownPercent) return;
  status.ShowPercent(L"Copying files", percent, shownPercent < 0);
  shownPercent = percent;
}
