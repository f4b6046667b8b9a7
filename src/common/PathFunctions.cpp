#include "common/PathFunctions.h"

#include "platform.h"

namespace {
bool IsSeparator(wchar_t character) {
  for (const wchar_t* separator = kPathSeparators; *separator != L'\0'; ++separator)
    if (*separator == character) return true;
  return false;
}
}  // namespace

bool PathExists(const std::wstring& path, DWORD* error) {
  std::wstring lookup = path;
  if (!lookup.empty() && IsSeparator(lookup.back())) lookup.pop_back();
  if (lookup.empty()) {
    if (error != nullptr) *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  WIN32_FIND_DATAW findData;
  HANDLE search = FindFirstFileW(lookup.c_str(), &findData);
  if (search == INVALID_HANDLE_VALUE || search == nullptr) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  FindClose(search);
  return true;
}

std::wstring FileExtension(const std::wstring& path) {
  size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos) return std::wstring();
  return path.substr(dot);
}

std::wstring FileBaseName(const std::wstring& path) {
  size_t separator = path.find_last_of(kPathSeparators);
  size_t start = separator == std::wstring::npos ? 0 : separator + 1;
  size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot < start) return path.substr(start);
  return path.substr(start, dot - start);
}

std::wstring FolderName(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  std::wstring folder = path.substr(0, path.size() - 1);
  size_t separator = folder.find_last_of(kPathSeparators);
  std::wstring name =
      separator == std::wstring::npos ? folder : folder.substr(separator + 1);
  return name + kPathSeparator;
}

int ReadTempFolder(std::wstring& folder) {
  wchar_t buffer[kTempPathBufferSize] = {};
  DWORD length = GetTempPathW(kTempPathBufferSize, buffer);
  if (length == 0) return static_cast<int>(GetLastError());
  // A path too long for the buffer comes back as the size it needs, with no
  // error set.
  if (length >= kTempPathBufferSize) return ERROR_INSUFFICIENT_BUFFER;
  folder.assign(buffer, length);
  return 0;
}
