#include "vdisk/TempPaths.h"

#include <cwchar>

#include "common/Failure.h"
#include "common/FixedValues.h"
#include "common/PathFunctions.h"
#include "common/ProgramLines.h"
#include "platform.h"

namespace {
// Reads the temporary folder; a failure is printed.
// Returns: 0, or the Win32 error code.
int ReadTempPath(std::wstring& folder) {
  int code = ReadTempFolder(folder);
  if (code != 0) PrintWide(L"ERROR! GetTempPath failed : (%d)\n", code);
  return code;
}
}  // namespace

int MakeTempFileName(wchar_t* name, size_t size) {
  std::wstring folder;
  int code = ReadTempPath(folder);
  if (code != 0) return code;
  wchar_t fileName[kTempPathBufferSize] = {};
  if (GetTempFileNameW(folder.c_str(), kTempFilePrefix, 0, fileName) == 0) {
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

int GetTempFolder(std::wstring& folder) { return ReadTempPath(folder); }

int MakeVhdPath(std::wstring& vhdPath, VirtualDiskFormat format) {
  wchar_t name[kTempPathBufferSize] = {};
  if (MakeTempFileName(name, kTempPathBufferSize) != 0)
    return PrintErrorLine(L"Unable to retrieve a temporary path.\n");
  std::wstring tempName(name);
  size_t dot = tempName.rfind(L'.');
  vhdPath = (dot == std::wstring::npos ? tempName : tempName.substr(0, dot)) +
            FileExtensionOf(format);
  if (!DeleteFileW(tempName.c_str()))
    return PrintErrorLine(L"Unable to create a temporary file path.\n");
  return 0;
}

int CheckMountFolderPath(std::wstring& folder, const std::wstring& imagePath) {
  const int code = GetTempFolder(folder);
  if (code != 0) return FailWithError(static_cast<uint32_t>(code));
  folder += FileBaseName(imagePath) + L".mnt" + kPathSeparator;
  if (folder.size() > kMaxFolderPathUnits)
    return PrintErrorLine(
        L"The work folder '%s' would have a path of %u characters; the system "
        L"makes and mounts folders of at most %u.\n",
        PrintableName(folder).c_str(), static_cast<unsigned>(folder.size()),
        static_cast<unsigned>(kMaxFolderPathUnits));
  return 0;
}

int MakeMountFolder(std::wstring& folder, const std::wstring& imagePath, bool* existed) {
  const int code = GetTempFolder(folder);
  if (code != 0) return FailWithError(static_cast<uint32_t>(code));
  folder += FileBaseName(imagePath) + L".mnt" + kPathSeparator;
  bool exists = PathExists(folder);
  if (existed != nullptr) *existed = exists;
  if (!exists && !CreateDirectoryW(folder.c_str(), nullptr))
    return PrintErrorLine(L"Unable to retrieve a temporary path.\n");
  return 0;
}
