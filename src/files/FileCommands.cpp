#include "files/FileCommands.h"

#include "common/ProgramLines.h"
#include "common/ReportWin32Error.h"
#include "files/FileCopy.h"
#include "files/FilePaths.h"
#include "files/FileView.h"
#include "files/ImageFiles.h"
#include "files/TextCoding.h"
#include "platform.h"

namespace {
constexpr int kFailed = 73;

int ListPartitions(ImageFiles& files) {
  for (ImageFiles::Volume& volume : files.Volumes())
    PrintWide(L"d %14llu %-5s %s/\n", static_cast<unsigned long long>(volume.bytes->Length()),
              Utf8ToWide(volume.fileSystem).c_str(),
              PrintableName(Utf8ToWide(volume.name)).c_str());
  return 0;
}

int List(ImageFiles& files, const std::wstring& where) {
  if (SplitPath(WideToUtf8(where)).empty()) return ListPartitions(files);
  VolumePath path;
  if (ResolveVolumePath(files, where, path) != 0) return kFailed;
  FileNode node;
  int error = path.tree->Find(path.parts, node);
  std::vector<FileNode> entries;
  if (error == 0 && node.kind == NodeKind::kFolder) error = path.tree->List(path.parts, entries);
  else entries.push_back(node);
  if (error != 0) {
    PrintErrorLine(L"'%s' %s.\n", PrintableName(where).c_str(),
                   error == ENOENT || error == ENOTDIR ? L"is not on the image"
                                                       : L"cannot be read");
    return kFailed;
  }
  for (const FileNode& entry : entries) PrintWide(L"%s\n", EntryLine(entry).c_str());
  return 0;
}

int Copy(ImageFiles& files, const std::wstring& where, const std::wstring& destination) {
  if (GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES) {
    ReportWin32Error(ERROR_FILE_EXISTS, destination.c_str());
    return kFailed;
  }
  VolumePath path;
  if (ResolveVolumePath(files, where, path) != 0) return kFailed;
  FileNode node;
  if (path.tree->Find(path.parts, node) != 0) {
    PrintErrorLine(L"'%s' is not on the image.\n", PrintableName(where).c_str());
    return kFailed;
  }
  FileCopy copy(*path.tree, FileCopy::CountBytes(*path.tree, path.parts, node));
  if (copy.Copy(path.parts, node, destination) != 0) {
    PrintErrorLine(L"Failed to copy '%s'; what was copied is removed.\n",
                   PrintableName(where).c_str());
    return kFailed;
  }
  copy.Keep();
  PrintProgramLine(L"Copied '%s' to '%s'.\n", PrintableName(where).c_str(),
                   destination.c_str());
  return 0;
}
}  // namespace

int OfferFileCommands() { return 0; }

int RunFileRequest(const FfuImage& image, const StoreSet& stores,
                   const std::vector<std::vector<ImagePartition>>& tables,
                   const FileRequest& request) {
  ImageFiles files(image, stores, tables);
  switch (request.kind) {
    case FileRequest::kList:
      return List(files, request.path);
    case FileRequest::kCopy:
      return Copy(files, request.path, request.target);
    case FileRequest::kView:
      return ServeView(files, request.target, request.foreground);
  }
  return 1;
}
