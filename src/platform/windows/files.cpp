// A file that takes its name only once it is complete: made under its name,
// marked for deletion through its handle at once and unmarked at the end, so
// that the system deletes it when the process ends before that.
#include <string>

#include "platform.h"

namespace {
// Returns: the folder part of `path` in full form, ending in a separator, or
// an empty string with the last error set.
std::wstring FolderOf(const wchar_t* path) {
  const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return L"";
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path, needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return L"";
  full.resize(length);
  const size_t last = full.find_last_of(L"\\/");
  if (last == std::wstring::npos || last + 1 == full.size()) {
    SetLastError(ERROR_INVALID_NAME);
    return L"";
  }
  return full.substr(0, last + 1);
}

BOOL MarkForDeletion(HANDLE file, bool marked) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                    sizeof(disposition));
}

// Closes `handle` and keeps the last error. Returns: INVALID_HANDLE_VALUE.
HANDLE CloseKeepingError(HANDLE handle) {
  const DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}
}  // namespace

HANDLE CreateUnnamedFile(const wchar_t* path, HANDLE* folder) {
  *folder = INVALID_HANDLE_VALUE;
  const std::wstring folderPath = FolderOf(path);
  if (folderPath.empty()) return INVALID_HANDLE_VALUE;
  // Held without delete sharing: nobody can rename or remove the folder.
  HANDLE held = CreateFileW(folderPath.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (held == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return CloseKeepingError(held);
  if (!MarkForDeletion(file, true)) {
    CloseKeepingError(file);
    return CloseKeepingError(held);
  }
  *folder = held;
  return file;
}

BOOL NameUnnamedFile(HANDLE folder, HANDLE file, const wchar_t* path) {
  (void)folder, (void)path;
  return MarkForDeletion(file, false);
}

HANDLE HoldFolder(const wchar_t* path, bool followLink) {
  // Without delete sharing: nobody can rename or remove the folder.
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

std::wstring HeldFolderPath(HANDLE folder) {
  const DWORD needed = GetFinalPathNameByHandleW(folder, nullptr, 0, FILE_NAME_NORMALIZED);
  if (needed == 0) return L"";
  std::wstring path(needed, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(folder, &path[0], needed, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= needed) return L"";
  path.resize(length);
  return path;
}
