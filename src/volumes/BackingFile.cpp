#include "volumes/BackingFile.h"

#include "common/FixedValues.h"
#include "common/PathFunctions.h"
#include "platform.h"

namespace {
const std::wstring kNtPrefix = L"\\??\\";
const std::wstring kWin32Prefix = L"\\\\?\\";
const std::wstring kDevicePrefix = L"\\Device\\";
const std::wstring kGlobalRoot = L"\\\\?\\GLOBALROOT";
// The temporary names' numbers have 16 bits on the system; a few more digits
// are still of the same form.
constexpr size_t kMaxTempDigits = 8;

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsDriveLetterPath(const std::wstring& text) {
  return text.size() >= 3 && text[1] == L':' && text[2] == L'\\' &&
         ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
}

// "\??\C:\x" or "\\?\C:\x" -> "C:\x"; "\??\UNC\s\x" or "\\?\UNC\s\x" -> "\\s\x".
std::wstring WithoutLongPrefix(const std::wstring& path) {
  for (const std::wstring& prefix : {kNtPrefix, kWin32Prefix}) {
    if (!StartsWith(path, prefix)) continue;
    std::wstring rest = path.substr(prefix.size());
    if (IsDriveLetterPath(rest)) return rest;
    if (StartsWith(rest, L"UNC\\")) return L"\\\\" + rest.substr(4);
  }
  return path;
}

// "\Device\HarddiskVolume3\x" -> "C:\x" through the drive letter whose target
// is that device.
std::wstring WithDriveLetter(const std::wstring& path,
                             const std::map<std::wstring, std::wstring>& dosDevices) {
  size_t deviceEnd = path.find(L'\\', kDevicePrefix.size());
  if (deviceEnd == std::wstring::npos) return kGlobalRoot + path;
  const std::wstring device = path.substr(0, deviceEnd);
  for (const auto& entry : dosDevices) {
    const std::wstring& name = entry.first;
    if (name.size() == 2 && name[1] == L':' && entry.second == device)
      return name + path.substr(deviceEnd);
  }
  return kGlobalRoot + path;
}
}  // namespace

std::wstring BackingFileFromReply(const wchar_t* reply, size_t bytesReturned, size_t units,
                                  const std::map<std::wstring, std::wstring>& dosDevices) {
  size_t length = 0;
  size_t returnedUnits = bytesReturned / sizeof(wchar_t);
  // A reply that names no length is read up to its NUL.
  size_t limit = returnedUnits != 0 && returnedUnits < units ? returnedUnits : units;
  while (length < limit && reply[length] != L'\0') ++length;
  std::wstring path(reply, length);
  if (StartsWith(path, kDevicePrefix)) return WithDriveLetter(path, dosDevices);
  return WithoutLongPrefix(path);
}

bool HasOwnTempFileForm(const std::wstring& fileName, bool orTmp) {
  const std::wstring prefix = kTempFilePrefix;
  if (fileName.compare(0, prefix.size(), prefix) != 0) return false;
  size_t digitsEnd = prefix.size();
  while (digitsEnd < fileName.size() && IsHexDigit(fileName[digitsEnd])) ++digitsEnd;
  const size_t digits = digitsEnd - prefix.size();
  if (digits == 0 || digits > kMaxTempDigits) return false;
  const std::wstring extension = fileName.substr(digitsEnd);
  return extension == L".vhd" || extension == L".vhdx" || (orTmp && extension == L".tmp");
}

bool IsOwnTempFile(const std::wstring& path) {
  const size_t nameStart = path.find_last_of(kPathSeparators);
  return HasOwnTempFileForm(nameStart == std::wstring::npos ? path : path.substr(nameStart + 1),
                            false);
}

bool IsOwnDiskFile(const std::wstring& path) {
  const size_t nameStart = path.find_last_of(kPathSeparators);
  return nameStart != std::wstring::npos && IsOwnTempFile(path) &&
         IsPrivateTempFolder(path.substr(0, nameStart + 1));
}
