#include "volumes/BackingFile.h"

#include <cstddef>
#include <vector>

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

namespace {
constexpr DWORD kVolumePathUnits = 260;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The host volume's first access path ("C:\\"), else its own name.
std::wstring HostFolder(const std::wstring& hostVolume) {
  wchar_t paths[kVolumePathUnits] = {};
  DWORD returned = 0;
  if (GetVolumePathNamesForVolumeNameW(hostVolume.c_str(), paths, kVolumePathUnits, &returned) &&
      paths[0] != L'\0')
    return paths;
  return hostVolume;
}

std::wstring JoinOnVolume(std::wstring folder, std::wstring relative) {
  while (!relative.empty() && IsSeparator(relative.front())) relative.erase(0, 1);
  if (!folder.empty() && !IsSeparator(folder.back())) folder += kPathSeparator;
  return folder + relative;
}
}  // namespace

DWORD QueryDependencyBackingFile(HANDLE drive, std::wstring& file) {
  file.clear();
  // Entries first, then the strings they point to; ULONGLONG keeps the
  // records aligned.
  std::vector<ULONGLONG> buffer(512);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto* info = reinterpret_cast<STORAGE_DEPENDENCY_INFO*>(buffer.data());
    info->Version = STORAGE_DEPENDENCY_INFO_VERSION_2;
    ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
    ULONG used = 0;
    DWORD result = GetStorageDependencyInformation(
        drive,
        static_cast<GET_STORAGE_DEPENDENCY_FLAG>(GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES |
                                                 GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE),
        size, info, &used);
    if (result == ERROR_INSUFFICIENT_BUFFER && used > size && attempt == 0) {
      buffer.assign(used / sizeof(ULONGLONG) + 1, 0);
      continue;
    }
    if (result != ERROR_SUCCESS) return result;
    if (info->NumberEntries == 0) return ERROR_VIRTDISK_NOT_VIRTUAL_DISK;
    // The disk's own file is the nearest ancestor; parents of a
    // differencing disk come after it.
    const STORAGE_DEPENDENCY_INFO_TYPE_2* nearest = nullptr;
    for (ULONG i = 0; i < info->NumberEntries; ++i) {
      const STORAGE_DEPENDENCY_INFO_TYPE_2& entry = info->Version2Entries[i];
      if (entry.HostVolumeName == nullptr || entry.DependentVolumeRelativePath == nullptr)
        continue;
      if (nearest == nullptr || entry.AncestorLevel < nearest->AncestorLevel) nearest = &entry;
    }
    if (nearest == nullptr) return ERROR_NOT_FOUND;
    file = JoinOnVolume(HostFolder(nearest->HostVolumeName), nearest->DependentVolumeRelativePath);
    return ERROR_SUCCESS;
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

bool IsFileBackedVirtualDisk(HANDLE drive) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  // Room for the strings that follow the descriptor, which are not read.
  std::vector<ULONGLONG> buffer(128);
  DWORD returned = 0;
  if (!DeviceIoControl(drive, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), buffer.data(),
                       static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), &returned, nullptr))
    return false;
  const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
  return returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(descriptor->BusType) &&
         descriptor->BusType == BusTypeFileBackedVirtual;
}
