#include "files/FileTree.h"

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

bool FileTree::KeepEntry(const std::vector<std::string>& path, const std::string& name) {
  if (!name.empty() && name != "." && name != ".." &&
      name.find_first_of(std::string("/\\\0", 3)) == std::string::npos)
    return true;
  const std::string folder = label + JoinPath(path);
  if (leftOut.insert(folder + '\0' + name).second)
    PrintWarningLine(L"%s holds an entry named '%s', which cannot be a file's name; it is left "
                     L"out.\n",
                     PrintableName(Utf8ToWide(folder)).c_str(),
                     PrintableName(Utf8ToWide(name)).c_str());
  return false;
}

void FileTree::SayUnreadable(const std::vector<std::string>& path, const char* why) {
  PrintWarningLine(L"%s: %s; its reads fail.\n", PrintableName(Utf8ToWide(label + JoinPath(path))).c_str(),
                   Utf8ToWide(why).c_str());
}
