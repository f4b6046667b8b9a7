#include "platform.h"

const wchar_t kPathSeparator = L'\\';
const wchar_t kPathSeparators[] = L"\\/";
const wchar_t kExecutableExtension[] = L".exe";
const wchar_t kDrivePrefix[] = L"PhysicalDrive";
const wchar_t kElevationAdvice[] = L"from an elevated prompt (Run as administrator)";

namespace {
// The long form of a folder path, upper-cased; empty when it cannot be had.
std::wstring ComparableFolder(const std::wstring& folder) {
  std::wstring path = folder;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  wchar_t longPath[MAX_PATH] = {};
  DWORD length = GetLongPathNameW(path.c_str(), longPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring text(longPath, length);
  if (text.back() != L'\\' && text.back() != L'/') text += L'\\';
  CharUpperW(&text[0]);
  return text;
}
}  // namespace

bool IsPrivateTempFolder(const std::wstring& folder) {
  wchar_t temp[MAX_PATH] = {};
  DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH || folder.empty()) return false;
  const std::wstring own = ComparableFolder(std::wstring(temp, length));
  return !own.empty() && own == ComparableFolder(folder);
}
