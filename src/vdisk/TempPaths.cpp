#include "vdisk/TempPaths.h"

#include <cwchar>

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/PathFunctions.h"
#include "platform.h"

namespace {
// Reads the temporary folder into a buffer of kTempPathBufferSize units;
// returns its length, or 0 after printing the failure.
DWORD ReadTempPath(wchar_t* buffer) {
  DWORD length = GetTempPathW(kTempPathBufferSize, buffer);
  if (length == 0 || length > kTempPathBufferSize) {
    // A folder name too long for the buffer comes back as the size it needs,
    // with no error set; it fails all the same.
    if (length != 0) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    PrintWide(L"ERROR! GetTempPath failed : (%d)\n", static_cast<int>(GetLastError()));
    return 0;
  }
  return length;
}
}  // namespace

int MakeTempFileName(wchar_t* name, size_t size) {
  wchar_t folder[kTempPathBufferSize] = {};
  if (ReadTempPath(folder) == 0) return static_cast<int>(GetLastError());
  wchar_t fileName[kTempPathBufferSize] = {};
  if (GetTempFileNameW(folder, kTempFilePrefix, 0, fileName) == 0) {
    PrintWide(L"ERROR! GetTempFileName failed : (%d)\n", static_cast<int>(GetLastError()));
    return static_cast<int>(GetLastError());
  }
  size_t length = wcsnlen(fileName, kTempPathBufferSize);
  if (length >= size) {
    // The name does not fit the caller's buffer: the file it names goes too.
    DeleteFileW(fileName);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  wmemcpy(name, fileName, length + 1);
  return 0;
}

int GetTempFolder(std::wstring& folder) {
  wchar_t buffer[kTempPathBufferSize] = {};
  DWORD length = ReadTempPath(buffer);
  if (length == 0) return static_cast<int>(GetLastError());
  folder.assign(buffer, length);
  return 0;
}

int MakeVhdPath(std::wstring& vhdPath, VirtualDiskFormat format) {
  wchar_t name[kTempPathBufferSize] = {};
  if (MakeTempFileName(name, kTempPathBufferSize) != 0)
    return FailWithLine(L"(Korvex) !ERROR! Unable to retrieve a temporary path.\n");
  std::wstring tempName(name);
  size_t dot = tempName.rfind(L'.');
  vhdPath = (dot == std::wstring::npos ? tempName : tempName.substr(0, dot)) +
            FileExtensionOf(format);
  if (!DeleteFileW(tempName.c_str()))
    return FailWithLine(L"(Korvex) !ERROR! Unable to create a temporary file path.\n");
  return 0;
}

int CheckMountFolderPath(std::wstring& folder, const std::wstring& imagePath) {
  if (GetTempFolder(folder) != 0) return FailWithError(0);
  folder += FileBaseName(imagePath) + L".mnt" + kPathSeparator;
  if (folder.size() > kMaxFolderPathUnits)
    return FailWithLine(
        L"(Korvex) !ERROR! The work folder '%s' would have a path of %u characters; the system "
        L"makes and mounts folders of at most %u.\n",
        folder.c_str(), static_cast<unsigned>(folder.size()),
        static_cast<unsigned>(kMaxFolderPathUnits));
  return 0;
}

int MakeMountFolder(std::wstring& folder, const std::wstring& imagePath, bool* existed) {
  if (GetTempFolder(folder) != 0) return FailWithError(0);
  folder += FileBaseName(imagePath) + L".mnt" + kPathSeparator;
  bool exists = PathExists(folder);
  if (existed != nullptr) *existed = exists;
  if (!exists && !CreateDirectoryW(folder.c_str(), nullptr))
    return FailWithLine(L"(Korvex) !ERROR! Unable to retrieve a temporary path.\n");
  return 0;
}
