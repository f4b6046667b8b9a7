#include "files/FileTree.h"

#include <algorithm>
#include <cstdio>

#include "common/ProgramLines.h"
#include "files/TextCoding.h"
#include "platform.h"

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') {
      part += path[i];
      continue;
    }
    if (!part.empty() && part != ".") parts.push_back(part);
    part.clear();
  }
  return parts;
}

std::string JoinPath(const std::vector<std::string>& path) {
  std::string joined;
  for (const std::string& part : path) joined += "/" + part;
  return joined;
}

namespace {
std::string Printable(const std::string& text) {
  return WideToUtf8(PrintableName(Utf8ToWide(text)));
}

// The readers' lines go to standard error, beside the reads they fail: the
// view's standard output is its mount line alone.
void Warn(const std::string& text) {
  std::fprintf(stderr, "%s%s%s\n", WideToUtf8(kProgramPrefix).c_str(),
               WideToUtf8(kWarningPrefix).c_str(), text.c_str());
}
}  // namespace

int FileTree::List(const std::vector<std::string>& path, std::vector<FileNode>& entries) {
  const int error = ListEntries(path, entries);
  if (error != 0) return error;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const FileNode& entry) { return !KeepEntry(path, entry.name); }),
                entries.end());
  return 0;
}

bool FileTree::KeepEntry(const std::vector<std::string>& path, const std::string& name) {
  if (!name.empty() && name != "." && name != ".." &&
      name.find_first_of(std::string("/\\\0", 3)) == std::string::npos)
    return true;
  const std::string folder = label + JoinPath(path);
  if (leftOut.insert(folder + '\0' + name).second)
    Warn(Printable(folder) + " holds an entry named '" + Printable(name) +
         "', which cannot be a file's name; it is left out.");
  return false;
}

void FileTree::SayUnreadable(const std::vector<std::string>& path, const char* why) {
  Warn(Printable(label + JoinPath(path)) + ": " + why + "; its reads fail.");
}
