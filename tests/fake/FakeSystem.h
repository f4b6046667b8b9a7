// Substitute platform calls for the failure paths the real system will not
// produce on demand. The test binary is linked with `ld --wrap` for each call
// of WrappedCalls.h: a hook that is set answers the call, an empty one passes
// it on to the real Linux layer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "win32.h"

// The text of a console screen, one string per row, and its cursor.
struct FakeScreen {
  std::vector<std::wstring> rows;  // empty: the console keeps no screen
  SHORT columns = 80;
  COORD cursor{};
};

struct FakeSystem {
  // Gets the output buffer, or the input of a request that has no output.
  std::function<BOOL(HANDLE, DWORD, LPVOID, DWORD, LPDWORD)> deviceIoControl;
  std::function<DWORD(HANDLE, GET_STORAGE_DEPENDENCY_FLAG, PSTORAGE_DEPENDENCY_INFO, ULONG)>
      storageDependency;
  std::function<HANDLE(LPCWSTR)> createFile;
  DWORD refusedAccess = 0;  // opens asking for it fail with 5, as under a policy
  std::function<BOOL(HANDLE)> closeHandle;
  std::function<DWORD(LPCWSTR, LPWSTR, DWORD)> queryDosDevice;
  std::function<DWORD(PCWSTR, PHANDLE)> openVirtualDisk;
  std::function<DWORD(HANDLE)> detachVirtualDisk;
  std::function<DWORD(PCWSTR, PCREATE_VIRTUAL_DISK_PARAMETERS, PHANDLE)> createVirtualDisk;
  std::function<DWORD(HANDLE)> attachVirtualDisk;
  std::function<DWORD(HANDLE, ULONG*, LPWSTR)> getVirtualDiskPhysicalPath;
  std::function<BOOL(LPCWSTR)> deleteFile;
  std::function<BOOL(HANDLE, LPCWSTR)> isFileOfDisk;
  std::function<DWORD(LPCWSTR)> fileAttributes;
  std::function<BOOL(LPCWSTR, LPWSTR, DWORD)> getVolumePathNames;
  std::function<BOOL(LPCWSTR)> deleteVolumeMountPoint;
  std::function<BOOL(LPCWSTR, LPCWSTR)> setVolumeMountPoint;
  std::function<BOOL(LPCWSTR, LPWSTR, DWORD)> getVolumeNameForMountPoint;
  std::function<BOOL(HANDLE, LPVOID, DWORD, LPDWORD)> readFile;
  std::function<BOOL(HANDLE, LPCVOID, DWORD)> writeFile;
  std::function<BOOL(HANDLE, LONGLONG)> setFilePointer;
  std::function<BOOL(HANDLE)> flushFile;
  std::vector<std::wstring> volumes;  // what the volume search lists (never the machine's)

  // Sleep never sleeps here; it only adds up the time asked for.
  DWORD sleptMs = 0;
  int sleeps = 0;
  // Everything written to the console, and whether it behaves as a terminal.
  // Without one, the console query fails with error 6, as on Windows when
  // output goes to a file or pipe; consoleQueries counts the queries.
  bool console = false;
  int consoleQueries = 0;
  FakeScreen screen;
  std::vector<std::wstring> consoleWrites;
};

// The hooks of the running test; reset before every test.
FakeSystem& Fake();

// A test fixture that resets the hooks, captures standard output and gives
// the test a TMPDIR of its own: the calls it passes on to the real layer
// never reach the user's private folder.
#include <gtest/gtest.h>

#include <memory>

#include "ScopedVariable.h"
#include "StdoutCapture.h"
#include "TempFolder.h"

class FakeSystemTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Stops capturing and returns what was printed (UTF-8).
  std::string Output();

  TempFolder tempFolder;

 private:
  std::unique_ptr<ScopedVariable> tmpdir;
  std::unique_ptr<StdoutCapture> capture;
};

// The GPT layout record of a disk with the given partition names.
std::vector<uint8_t> MakeLayout(const GUID& diskId, const std::vector<std::wstring>& names,
                                DWORD style = 1);
// The partition GUID that MakeLayout gives partition `index`.
GUID PartitionGuid(uint32_t index);
