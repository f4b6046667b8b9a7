#include "path_errors.h"

#include <sys/stat.h>

#include <cerrno>

#include "errors.h"

namespace {
bool ParentFolderExists(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return true;  // relative to the current folder
  folder.resize(slash == 0 ? 1 : slash);
  struct stat status {};
  return stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
}  // namespace

DWORD Win32FromPathErrno(int error, const std::string& path) {
  if (error == ENOENT && !ParentFolderExists(path)) return ERROR_PATH_NOT_FOUND;
  return Win32FromErrno(error);
}
