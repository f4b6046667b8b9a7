#include "FakeSystem.h"

#include <cstring>
#include <cwchar>

namespace {
FakeSystem fakeSystem;
}

FakeSystem& Fake() { return fakeSystem; }

void FakeSystemTest::SetUp() {
  ASSERT_FALSE(tempFolder.path.empty());
  tmpdir = std::make_unique<ScopedVariable>("TMPDIR", tempFolder.path.c_str());
  fakeSystem = FakeSystem();
  capture = std::make_unique<StdoutCapture>();
}

void FakeSystemTest::TearDown() {
  capture.reset();
  fakeSystem = FakeSystem();
  tmpdir.reset();
}

std::string FakeSystemTest::Output() {
  if (!capture) return std::string();
  std::string text = capture->Finish();
  capture.reset();
  return text;
}

GUID PartitionGuid(uint32_t index) {
  return GUID{0x11110000u + index, 0x2222, 0x3333, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB}};
}

std::vector<uint8_t> MakeLayout(const GUID& diskId, const std::vector<std::wstring>& names,
                                DWORD style) {
  std::vector<uint8_t> record(48 + 144 * names.size(), 0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(record.data());
  layout->PartitionStyle = style;
  layout->PartitionCount = static_cast<DWORD>(names.size());
  layout->Gpt.DiskId = diskId;
  for (size_t i = 0; i < names.size(); ++i) {
    auto* entry = reinterpret_cast<PARTITION_INFORMATION_EX*>(record.data() + 48 + 144 * i);
    entry->PartitionStyle = style;
    entry->Gpt.PartitionId = PartitionGuid(static_cast<uint32_t>(i));
    entry->PartitionNumber = static_cast<DWORD>(i + 1);
    for (size_t u = 0; u < names[i].size() && u < 36; ++u)
      entry->Gpt.Name[u] = static_cast<uint16_t>(names[i][u]);
  }
  return record;
}

// ---- The wrapped calls ------------------------------------------------------
extern "C" {
// Every wrapped call's real and substitute forms, declared from the one list.
#define WRAPPED_CALL(result, name, parameters) \
  result __real_##name parameters;              \
  result __wrap_##name parameters;
#include "WrappedCalls.h"
#undef WRAPPED_CALL

DWORD __wrap_GetStorageDependencyInformation(HANDLE object, GET_STORAGE_DEPENDENCY_FLAG flags,
                                             ULONG size, PSTORAGE_DEPENDENCY_INFO info,
                                             ULONG* used) {
  if (fakeSystem.storageDependency) return fakeSystem.storageDependency(object, flags, info, size);
  return __real_GetStorageDependencyInformation(object, flags, size, info, used);
}

BOOL __wrap_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
  // A request that only sends data shows the hook its input as the buffer.
  if (fakeSystem.deviceIoControl && out == nullptr && in != nullptr)
    return fakeSystem.deviceIoControl(device, code, in, inSize, returned);
  if (fakeSystem.deviceIoControl) return fakeSystem.deviceIoControl(device, code, out, outSize, returned);
  return __real_DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

HANDLE __wrap_CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  if ((access & fakeSystem.refusedAccess) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (fakeSystem.createFile) return fakeSystem.createFile(name);
  return __real_CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

BOOL __wrap_CloseHandle(HANDLE handle) {
  if (fakeSystem.closeHandle) return fakeSystem.closeHandle(handle);
  return __real_CloseHandle(handle);
}

DWORD __wrap_QueryDosDeviceW(LPCWSTR name, LPWSTR target, DWORD max) {
  if (fakeSystem.queryDosDevice) return fakeSystem.queryDosDevice(name, target, max);
  return __real_QueryDosDeviceW(name, target, max);
}

DWORD __wrap_OpenVirtualDisk(PVIRTUAL_STORAGE_TYPE type, PCWSTR path, VIRTUAL_DISK_ACCESS_MASK mask,
                             OPEN_VIRTUAL_DISK_FLAG flags, POPEN_VIRTUAL_DISK_PARAMETERS parameters,
                             PHANDLE handle) {
  if (fakeSystem.openVirtualDisk) return fakeSystem.openVirtualDisk(path, handle);
  return __real_OpenVirtualDisk(type, path, mask, flags, parameters, handle);
}

DWORD __wrap_DetachVirtualDisk(HANDLE handle, DETACH_VIRTUAL_DISK_FLAG flags, ULONG provider) {
  if (fakeSystem.detachVirtualDisk) return fakeSystem.detachVirtualDisk(handle);
  return __real_DetachVirtualDisk(handle, flags, provider);
}

DWORD __wrap_CreateVirtualDisk(PVIRTUAL_STORAGE_TYPE type, PCWSTR path,
                               VIRTUAL_DISK_ACCESS_MASK mask, PSECURITY_DESCRIPTOR security,
                               CREATE_VIRTUAL_DISK_FLAG flags, ULONG providerFlags,
                               PCREATE_VIRTUAL_DISK_PARAMETERS parameters,
                               LPOVERLAPPED overlapped, PHANDLE handle) {
  if (fakeSystem.createVirtualDisk) return fakeSystem.createVirtualDisk(path, parameters, handle);
  return __real_CreateVirtualDisk(type, path, mask, security, flags, providerFlags, parameters,
                                  overlapped, handle);
}

DWORD __wrap_AttachVirtualDisk(HANDLE handle, PSECURITY_DESCRIPTOR security,
                               ATTACH_VIRTUAL_DISK_FLAG flags, ULONG providerFlags,
                               PATTACH_VIRTUAL_DISK_PARAMETERS parameters,
                               LPOVERLAPPED overlapped) {
  if (fakeSystem.attachVirtualDisk) return fakeSystem.attachVirtualDisk(handle);
  return __real_AttachVirtualDisk(handle, security, flags, providerFlags, parameters, overlapped);
}

DWORD __wrap_GetVirtualDiskPhysicalPath(HANDLE handle, ULONG* size, LPWSTR path) {
  if (fakeSystem.getVirtualDiskPhysicalPath)
    return fakeSystem.getVirtualDiskPhysicalPath(handle, size, path);
  return __real_GetVirtualDiskPhysicalPath(handle, size, path);
}

BOOL __wrap_IsFileOfDisk(HANDLE drive, LPCWSTR file) {
  if (fakeSystem.isFileOfDisk) return fakeSystem.isFileOfDisk(drive, file);
  return __real_IsFileOfDisk(drive, file);
}

BOOL __wrap_DeleteFileW(LPCWSTR name) {
  if (fakeSystem.deleteFile) return fakeSystem.deleteFile(name);
  return __real_DeleteFileW(name);
}

DWORD __wrap_GetFileAttributesW(LPCWSTR name) {
  if (fakeSystem.fileAttributes) return fakeSystem.fileAttributes(name);
  return __real_GetFileAttributesW(name);
}

BOOL __wrap_GetVolumePathNamesForVolumeNameW(LPCWSTR volume, LPWSTR paths, DWORD length,
                                             LPDWORD returned) {
  if (fakeSystem.getVolumePathNames) return fakeSystem.getVolumePathNames(volume, paths, length);
  return __real_GetVolumePathNamesForVolumeNameW(volume, paths, length, returned);
}

BOOL __wrap_DeleteVolumeMountPointW(LPCWSTR mountPoint) {
  if (fakeSystem.deleteVolumeMountPoint) return fakeSystem.deleteVolumeMountPoint(mountPoint);
  return __real_DeleteVolumeMountPointW(mountPoint);
}

BOOL __wrap_SetVolumeMountPointW(LPCWSTR mountPoint, LPCWSTR volume) {
  if (fakeSystem.setVolumeMountPoint) return fakeSystem.setVolumeMountPoint(mountPoint, volume);
  return __real_SetVolumeMountPointW(mountPoint, volume);
}

BOOL __wrap_GetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR volume, DWORD length) {
  if (fakeSystem.getVolumeNameForMountPoint)
    return fakeSystem.getVolumeNameForMountPoint(mountPoint, volume, length);
  return __real_GetVolumeNameForVolumeMountPointW(mountPoint, volume, length);
}

BOOL __wrap_ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  if (fakeSystem.readFile) return fakeSystem.readFile(file, buffer, size, read);
  return __real_ReadFile(file, buffer, size, read, overlapped);
}

BOOL __wrap_WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                      LPOVERLAPPED overlapped) {
  if (fakeSystem.writeFile) {
    if (written != nullptr) *written = size;
    return fakeSystem.writeFile(file, buffer, size);
  }
  return __real_WriteFile(file, buffer, size, written, overlapped);
}

BOOL __wrap_FlushFileBuffers(HANDLE file) {
  if (fakeSystem.flushFile) return fakeSystem.flushFile(file);
  return __real_FlushFileBuffers(file);
}

BOOL __wrap_SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position,
                             DWORD method) {
  if (fakeSystem.setFilePointer && method == FILE_BEGIN)
    return fakeSystem.setFilePointer(file, distance.QuadPart);
  return __real_SetFilePointerEx(file, distance, position, method);
}

void __wrap_Sleep(DWORD milliseconds) {
  fakeSystem.sleptMs += milliseconds;
  fakeSystem.sleeps++;
}

BOOL __wrap_GetConsoleMode(HANDLE, LPDWORD mode) {
  ++fakeSystem.consoleQueries;
  if (!fakeSystem.console) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *mode = 0x3;
  return TRUE;
}

// A console that records what is written to it, so that status lines can be
// checked without a terminal. With a screen, it also keeps the text and the
// cursor of a buffer that is as large as its window: a line feed on the last
// row scrolls every row up, as under a terminal's pseudo console.
namespace {
void ScreenLineFeed(FakeScreen& screen) {
  screen.cursor.X = 0;
  if (screen.cursor.Y + 1 < static_cast<SHORT>(screen.rows.size())) {
    ++screen.cursor.Y;
    return;
  }
  screen.rows.erase(screen.rows.begin());
  screen.rows.emplace_back();
}

void ScreenWrite(FakeScreen& screen, const std::wstring& text) {
  for (wchar_t character : text) {
    if (character == L'\n') {
      ScreenLineFeed(screen);
    } else if (character == L'\r') {
      screen.cursor.X = 0;
    } else {
      if (screen.cursor.X >= screen.columns) ScreenLineFeed(screen);
      std::wstring& row = screen.rows[static_cast<size_t>(screen.cursor.Y)];
      if (row.size() <= static_cast<size_t>(screen.cursor.X))
        row.resize(static_cast<size_t>(screen.cursor.X) + 1, L' ');
      row[static_cast<size_t>(screen.cursor.X)] = character;
      ++screen.cursor.X;
    }
  }
}
}  // namespace

BOOL __wrap_GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) {
  if (!fakeSystem.console) return __real_GetConsoleScreenBufferInfo(console, info);
  std::memset(info, 0, sizeof(*info));
  if (!fakeSystem.screen.rows.empty()) {
    info->dwSize = {fakeSystem.screen.columns, static_cast<SHORT>(fakeSystem.screen.rows.size())};
    info->dwCursorPosition = fakeSystem.screen.cursor;
  }
  return TRUE;
}

BOOL __wrap_SetConsoleCursorPosition(HANDLE console, COORD position) {
  if (!fakeSystem.console) return __real_SetConsoleCursorPosition(console, position);
  if (!fakeSystem.screen.rows.empty()) {
    if (position.X < 0 || position.Y < 0 ||
        position.Y >= static_cast<SHORT>(fakeSystem.screen.rows.size())) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    fakeSystem.screen.cursor = position;
  }
  return TRUE;
}

BOOL __wrap_ReadConsoleOutputCharacterW(HANDLE console, LPWSTR characters, DWORD length,
                                        COORD from, LPDWORD read) {
  if (!fakeSystem.console || fakeSystem.screen.rows.empty())
    return __real_ReadConsoleOutputCharacterW(console, characters, length, from, read);
  // Reads on across the ends of rows, blanks where nothing was written.
  const FakeScreen& screen = fakeSystem.screen;
  DWORD count = 0;
  for (SHORT y = from.Y, x = from.X; count < length && y < static_cast<SHORT>(screen.rows.size());
       ++count) {
    const std::wstring& row = screen.rows[static_cast<size_t>(y)];
    characters[count] = static_cast<size_t>(x) < row.size() ? row[static_cast<size_t>(x)] : L' ';
    if (++x >= screen.columns) {
      x = 0;
      ++y;
    }
  }
  *read = count;
  return TRUE;
}

BOOL __wrap_WriteConsoleW(HANDLE console, const void* text, DWORD length, LPDWORD written,
                          LPVOID reserved) {
  if (!fakeSystem.console) return __real_WriteConsoleW(console, text, length, written, reserved);
  fakeSystem.consoleWrites.emplace_back(static_cast<const wchar_t*>(text), length);
  if (!fakeSystem.screen.rows.empty()) ScreenWrite(fakeSystem.screen, fakeSystem.consoleWrites.back());
  if (written != nullptr) *written = length;
  return TRUE;
}
}

// The volume search lists Fake().volumes; its handle points to the next one's index.
extern "C" {
BOOL __wrap_FindNextVolumeW(HANDLE search, LPWSTR name, DWORD length) {
  size_t& next = *static_cast<size_t*>(search);
  if (next >= fakeSystem.volumes.size()) return SetLastError(ERROR_NO_MORE_FILES), FALSE;
  return wcsncpy(name, fakeSystem.volumes[next++].c_str(), length), TRUE;
}
HANDLE __wrap_FindFirstVolumeW(LPWSTR name, DWORD length) {
  static size_t next;
  next = 0;
  return __wrap_FindNextVolumeW(&next, name, length) ? &next : INVALID_HANDLE_VALUE;
}
BOOL __wrap_FindVolumeClose(HANDLE) { return TRUE; }
}
