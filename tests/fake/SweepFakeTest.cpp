// The sweep of earlier runs' disks when drives fail, detaches fail or the
// name list needs a larger buffer, on a substitute platform.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "FakeSystem.h"
#include "linux/support/runtime/text.h"
#include "common/FixedValues.h"
#include "volumes/DetachSweep.h"
#include "volumes/DriveLayout.h"

extern "C" BOOL __real_CloseHandle(HANDLE);

namespace {
const GUID kOtherDiskId = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
const auto kNoBus = static_cast<STORAGE_BUS_TYPE>(0x7F);  // no answer to the property query

struct FakeDrive {
  GUID diskId;
  std::wstring backingFile;
  DWORD layoutError = 0;  // non-zero: the layout query fails with it
  DWORD openError = 0;    // non-zero: the drive cannot be opened
  DWORD style = 1;        // of the layout: 1 GPT, 2 raw (a blank disk)
  // What the storage dependency query says: the file (as host volume and
  // path on it), or its error.
  std::wstring dependencyFile = L"";
  DWORD dependencyError = ERROR_INVALID_FUNCTION;
  STORAGE_BUS_TYPE bus = BusTypeFileBackedVirtual;  // of the storage device property
};

class Sweep : public FakeSystemTest {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    Fake().refusedAccess = GENERIC_WRITE;  // the sweep asks no drive for more than reading
    Fake().queryDosDevice = [this](LPCWSTR name, LPWSTR target, DWORD max) -> DWORD {
      if (name != nullptr && std::wstring(name) == L"Volume{gone}")  // left since the list
        return SetLastError(ERROR_FILE_NOT_FOUND), 0u;
      if (name != nullptr) {
        const wchar_t reply[] = L"/dev/loop\0";
        std::memcpy(target, reply, sizeof(reply));
        return 11;
      }
      listSizes.push_back(max);
      std::wstring list;
      for (const std::wstring& n : names) list += n + L'\0';
      list += std::wstring(padding, L'x') + L'\0';
      list += L'\0';
      if (list.size() > max) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      std::memcpy(target, list.data(), list.size() * sizeof(wchar_t));
      return static_cast<DWORD>(list.size());
    };
    Fake().createFile = [this](LPCWSTR path) -> HANDLE {
      std::wstring name = std::wstring(path).substr(4);
      opened.push_back(name);
      auto drive = drives.find(name);
      if (drive == drives.end() || drive->second.openError != 0) {
        SetLastError(drive == drives.end() ? ERROR_FILE_NOT_FOUND : drive->second.openError);
        return INVALID_HANDLE_VALUE;
      }
      ++openHandles;
      ++openDrives;
      return HandleFor(name);
    };
    Fake().closeHandle = [this](HANDLE handle) -> BOOL {
      const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
      if (value != 0x7000 && (value < 0x1000 || value >= 0x2000)) return __real_CloseHandle(handle);
      if (value != 0x7000) --openDrives;
      --openHandles;
      return TRUE;
    };
    Fake().storageDependency = [this](HANDLE handle, GET_STORAGE_DEPENDENCY_FLAG flags,
                                      PSTORAGE_DEPENDENCY_INFO info, ULONG size) -> DWORD {
      EXPECT_EQ(flags, GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES |
                           GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE);
      EXPECT_EQ(info->Version, STORAGE_DEPENDENCY_INFO_VERSION_2);
      const FakeDrive& drive = drives[NameOf(handle)];
      if (drive.dependencyFile.empty()) return drive.dependencyError;
      EXPECT_GE(size, sizeof(STORAGE_DEPENDENCY_INFO));
      hostVolume = L"/";
      relativePath = drive.dependencyFile.substr(1);
      info->NumberEntries = 1;
      info->Version2Entries[0] = STORAGE_DEPENDENCY_INFO_TYPE_2{};
      info->Version2Entries[0].AncestorLevel = 1;
      info->Version2Entries[0].HostVolumeName = &hostVolume[0];
      info->Version2Entries[0].DependentVolumeRelativePath = &relativePath[0];
      return ERROR_SUCCESS;
    };
    Fake().deviceIoControl = [this](HANDLE handle, DWORD code, LPVOID out, DWORD outSize,
                                    LPDWORD returned) -> BOOL {
      FakeDrive& drive = drives[NameOf(handle)];
      if (code == IOCTL_STORAGE_QUERY_PROPERTY && drive.bus != kNoBus) {
        static_cast<STORAGE_DEVICE_DESCRIPTOR*>(out)->BusType = drive.bus;
        return *returned = sizeof(STORAGE_DEVICE_DESCRIPTOR), TRUE;
      }
      if (code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
        if (drive.layoutError != 0) {
          SetLastError(drive.layoutError);
          return FALSE;
        }
        std::vector<uint8_t> record =
            drive.style == 1 ? MakeLayout(drive.diskId, {L"EFIESP", L"MainOS"})
                             : MakeLayout(drive.diskId, {}, drive.style);
        std::memcpy(out, record.data(), std::min<size_t>(record.size(), outSize));
        return TRUE;
      }
      if (code != IOCTL_STORAGE_GET_BACKING_FILE)
        return SetLastError(ERROR_INVALID_FUNCTION), FALSE;
      EXPECT_EQ(outSize, 260 * sizeof(wchar_t));
      if (drive.backingFile.empty()) {  // a disk of the machine, no virtual disk
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
      }
      wcsncpy(static_cast<wchar_t*>(out), drive.backingFile.c_str(), 260);
      return TRUE;
    };
    Fake().getVolumePathNames = [](LPCWSTR volume, LPWSTR paths, DWORD) -> BOOL {
      if (wcsncmp(volume, L"\\\\?\\Volume", 10) != 0) {  // a host folder of the layer
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
      }
      const wchar_t list[] = L"/tmp/phone.mnt/\0";
      std::memcpy(paths, list, sizeof(list));
      return TRUE;
    };
    Fake().deleteVolumeMountPoint = [this](LPCWSTR path) -> BOOL {
      unmounted.emplace_back(path);
      return TRUE;
    };
    Fake().openVirtualDisk = [this](PCWSTR path, PHANDLE handle) -> DWORD {
      if (openDiskError != 0) return openDiskError;
      *handle = reinterpret_cast<HANDLE>(0x7000);
      ++openHandles;
      opening = path;
      return 0;
    };
    Fake().detachVirtualDisk = [this](HANDLE) -> DWORD {
      EXPECT_EQ(openDrives, 0) << "the drive is still open at its detach";
      if (detachError != 0) {
        SetLastError(detachLastError);
        return detachError;
      }
      detached.push_back(opening);
      return 0;
    };
    Fake().deleteFile = [this](LPCWSTR path) -> BOOL {
      deleted.emplace_back(path);
      return TRUE;
    };
    Fake().isFileOfDisk = [this](HANDLE handle, LPCWSTR file) -> BOOL {
      const FakeDrive& drive = drives[NameOf(handle)];
      return file == drive.backingFile || file == drive.dependencyFile;
    };
  }

  HANDLE HandleFor(const std::wstring& name) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return reinterpret_cast<HANDLE>(0x1000 + i);
    return INVALID_HANDLE_VALUE;
  }
  std::wstring NameOf(HANDLE handle) {
    return names[reinterpret_cast<uintptr_t>(handle) - 0x1000];
  }

  // The path of `name` in the caller's private folder inside TMPDIR, where
  // the program keeps its files.
  std::wstring OwnFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    EXPECT_GT(length, 0u);
    return std::wstring(temp, length) + name;
  }

  std::vector<std::wstring> names;
  std::map<std::wstring, FakeDrive> drives;
  size_t padding = 0;
  std::vector<DWORD> listSizes;
  std::vector<std::wstring> opened, unmounted, detached, deleted;
  std::wstring opening;
  DWORD openDiskError = 0, detachError = 0, detachLastError = 0;
  int openHandles = 0;
  int openDrives = 0;
  std::wstring hostVolume, relativePath;
};

TEST_F(Sweep, NoImageDiskLooksAtEveryDriveAndPrintsNothing) {
  names = {L"PhysicalDrive0", L"PhysicalDrive1", L"Volume{x}", L"Volume{gone}"};
  drives[L"PhysicalDrive0"] = {kOtherDiskId, L"/data/a.img"};
  drives[L"PhysicalDrive1"] = {kOtherDiskId, L"/data/b.img"};
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_EQ(opened, (std::vector<std::wstring>{L"PhysicalDrive0", L"PhysicalDrive1"}));
  EXPECT_TRUE(detached.empty());
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(), "");
}

// Ours are files of our exact name form in our private folder; a file of
// that form elsewhere (a user's copy) is detached but kept.
TEST_F(Sweep, ImageDisksAreDetachedInKeyOrderAndOnlyOwnFilesDeleted) {
  const std::wstring ours = OwnFile(L"kmdA1.vhd");
  names = {L"PhysicalDrive2", L"PhysicalDrive10", L"PhysicalDrive", L"PhysicalDrive1", L"Physical"};
  drives[L"PhysicalDrive2"] = {kImageDiskId, ours};
  drives[L"PhysicalDrive10"] = {kImageDiskId, L"/tmp/phone.vhd"};
  drives[L"PhysicalDrive"] = {kOtherDiskId, L"/tmp/x.img"};
  drives[L"PhysicalDrive1"] = {kImageDiskId, L"/tmp/kmdB2.vhd"};
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_EQ(opened, (std::vector<std::wstring>{L"PhysicalDrive", L"PhysicalDrive1",
                                               L"PhysicalDrive10", L"PhysicalDrive2"}));
  EXPECT_EQ(detached, (std::vector<std::wstring>{L"/tmp/kmdB2.vhd", L"/tmp/phone.vhd", ours}));
  EXPECT_EQ(deleted, std::vector<std::wstring>{ours});
  EXPECT_EQ(unmounted.size(), 3u);
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Successfully detached vhd file : '/tmp/kmdB2.vhd'\n"
            "(Korvex) !WARNING! Successfully detached vhd file : '/tmp/phone.vhd'\n"
            "(Korvex) !WARNING! Successfully detached vhd file : '" + ToUtf8(ours) + "'\n");
}

// The drive may name its backing file in an NT form; the detach and the
// line take the Win32 path, and a reply that names nothing is no path.
TEST_F(Sweep, TheBackingFileIsDetachedByItsWin32Path) {
  names = {L"PhysicalDrive1", L"PhysicalDrive2"};
  drives[L"PhysicalDrive1"] = {kImageDiskId, L"\\??\\C:\\img\\phone.vhd"};
  drives[L"PhysicalDrive2"] = {kImageDiskId, L""};
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_EQ(detached, std::vector<std::wstring>{L"C:\\img\\phone.vhd"});
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Successfully detached vhd file : 'C:\\img\\phone.vhd'\n"
            "(Korvex) !WARNING! Unable to query vhd file name.\n");
}

// A run killed between attach and its first write leaves a disk without a
// GPT and so without the image disk id: its file in the temporary folder
// tells that it is ours. Disks of other files are not looked at further.
TEST_F(Sweep, OwnDisksWithoutImageDiskIdGoByTheirFile) {
  const std::wstring folder = OwnFile(L"");
  names = {L"PhysicalDrive0", L"PhysicalDrive1", L"PhysicalDrive2", L"PhysicalDrive3",
           L"PhysicalDrive4"};
  drives[L"PhysicalDrive0"] = {kOtherDiskId, L"", 0, 0, 2};                 // the machine's
  drives[L"PhysicalDrive1"] = {kOtherDiskId, folder + L"kmd1F.vhd", 0, 0, 2};  // blank, ours
  drives[L"PhysicalDrive2"] = {kOtherDiskId, L"/elsewhere/kmd2.vhd", 0, 0, 2};
  drives[L"PhysicalDrive3"] = {kOtherDiskId, folder + L"kmd3.vhd"};  // a desktop layout, ours
  drives[L"PhysicalDrive4"] = {kOtherDiskId, folder + L"phone.vhd", 0, 0, 2};
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_EQ(detached, (std::vector<std::wstring>{folder + L"kmd1F.vhd", folder + L"kmd3.vhd"}));
  EXPECT_EQ(deleted, detached);
  EXPECT_EQ(openHandles, 0);
  std::string expected;
  for (const std::wstring& file : detached)
    expected += "(Korvex) !WARNING! Successfully detached vhd file : '" +
                std::string(file.begin(), file.end()) + "'\n";
  EXPECT_EQ(Output(), expected);
}

// A run killed after it made its VHD and before it attached it leaves a
// file that no disk uses: the sweep deletes our files of that kind, and
// nothing else in the folder, nor the file of a disk it could not detach.
TEST_F(Sweep, OwnFilesThatNoDiskUsesAreDeleted) {
  const std::wstring folder = OwnFile(L"");
  std::string narrow(folder.begin(), folder.end());
  for (const char* name : {"kmd1A.vhd", "kmd2B.tmp", "kmd9.vhd", "phone.vhd", "akmd.vhd"})
    std::ofstream(narrow + name) << "x";
  std::filesystem::create_directory(narrow + "kmd.mnt");
  names = {L"PhysicalDrive0"};
  drives[L"PhysicalDrive0"] = {kImageDiskId, folder + L"kmd9.vhd"};
  detachError = ERROR_BUSY;
  detachLastError = ERROR_BUSY;
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_EQ(deleted, (std::vector<std::wstring>{folder + L"kmd1A.vhd", folder + L"kmd2B.tmp"}));
  EXPECT_EQ(Output(),
            "failed to detach vdisk... 170\n"
            "!ERROR! The requested resource is in use.\r\n\n"
            "(Korvex) !WARNING! Unable to detach vhd file : '" + narrow + "kmd9.vhd'\n"
            "(Korvex) !WARNING! Deleted a temporary file that no disk used : '" + narrow +
                "kmd1A.vhd'\n"
                "(Korvex) !WARNING! Deleted a temporary file that no disk used : '" + narrow +
                "kmd2B.tmp'\n");
}

TEST_F(Sweep, AFailedDetachKeepsTheFileAndTheSweepGoesOn) {
  names = {L"PhysicalDrive1", L"PhysicalDrive2"};
  drives[L"PhysicalDrive1"] = {kImageDiskId, L"/tmp/kmd1.vhd"};
  drives[L"PhysicalDrive2"] = {kOtherDiskId, L"/tmp/y.img"};
  detachError = ERROR_BUSY;
  detachLastError = ERROR_BUSY;
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_TRUE(deleted.empty());
  EXPECT_EQ(unmounted.size(), 1u);
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(),
            "failed to detach vdisk... 170\n"
            "!ERROR! The requested resource is in use.\r\n\n"
            "(Korvex) !WARNING! Unable to detach vhd file : '/tmp/kmd1.vhd'\n");
}

TEST_F(Sweep, AVirtualDiskFailureWithoutLastErrorStillFails) {
  names = {L"PhysicalDrive1"};
  drives[L"PhysicalDrive1"] = {kImageDiskId, L"/tmp/kmd1.vhd"};
  openDiskError = ERROR_FILE_NOT_FOUND;
  SetLastError(0);
  EXPECT_NE(DetachVhdFile(L"/tmp/kmd1.vhd"), 0);
  EXPECT_EQ(Output(),
            "failed to open vdisk...err 2\n"
            "!ERROR! The system cannot find the file specified.\r\n\n");
}

// The virtual disk calls return their error and leave the thread's last
// error alone: the lines report the returned code, not a stale one.
TEST_F(Sweep, AVirtualDiskFailureIsReportedWithTheCodeTheCallReturned) {
  struct Case {
    DWORD openError, detachError;
    const char* lines;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, 0,
       "failed to open vdisk...err 2\n"
       "!ERROR! The system cannot find the file specified.\r\n\n"},
      {0, ERROR_BUSY,
       "failed to detach vdisk... 170\n"
       "!ERROR! The requested resource is in use.\r\n\n"},
  };
  std::string expected;
  for (const Case& c : cases) {
    openDiskError = c.openError;
    detachError = c.detachError;
    detachLastError = ERROR_INVALID_HANDLE;
    SetLastError(ERROR_INVALID_HANDLE);
    EXPECT_EQ(DetachVhdFile(L"/tmp/kmd1.vhd"),
              static_cast<int>(c.openError != 0 ? c.openError : c.detachError));
    expected += c.lines;
  }
  EXPECT_EQ(Output(), expected);
  EXPECT_EQ(openHandles, 0);
}

// A drive that cannot be opened or read gets one warning and the sweep goes
// on to the image disk after it.
TEST_F(Sweep, ADriveThatCannotBeOpenedOrReadIsPassedByWithAWarning) {
  struct Case {
    DWORD openError, layoutError;
    const char* text;
  } cases[] = {{ERROR_SHARING_VIOLATION, 0,
                "The process cannot access the file because it is being used by another "
                "process."},
               {ERROR_ACCESS_DENIED, 0, "Access is denied."},
               {ERROR_INVALID_FUNCTION, 0, "Incorrect function."},
               {0, ERROR_CRC, "Data error (cyclic redundancy check)."},
               {0, ERROR_IO_DEVICE,
                "The request could not be performed because of an I/O device error."}};
  names = {L"PhysicalDrive0", L"PhysicalDrive1", L"PhysicalDrive2"};
  drives[L"PhysicalDrive0"] = {kOtherDiskId, L""};
  drives[L"PhysicalDrive2"] = {kImageDiskId, L"/tmp/kmd2.vhd"};
  std::string expected;
  for (const Case& c : cases) {
    drives[L"PhysicalDrive1"] = {kOtherDiskId, L"", c.layoutError, c.openError};
    EXPECT_EQ(DetachImageDisks(), 0) << c.text;
    expected += std::string("(Korvex) !WARNING! Skipped drive '\\\\.\\PhysicalDrive1' : ") +
                c.text + "\n(Korvex) !WARNING! Successfully detached vhd file : '/tmp/kmd2.vhd'\n";
  }
  EXPECT_EQ(detached.size(), sizeof(cases) / sizeof(cases[0]));
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(), expected);
}

// Without the rights to open any drive the sweep fails with the error of
// the first, and nothing else is said.
TEST_F(Sweep, NoDriveThatCanBeOpenedFailsTheSweep) {
  names = {L"PhysicalDrive0", L"PhysicalDrive1"};
  drives[L"PhysicalDrive0"] = {kOtherDiskId, L"", 0, ERROR_ACCESS_DENIED};
  drives[L"PhysicalDrive1"] = {kImageDiskId, L"/tmp/kmd.vhd", 0, ERROR_ACCESS_DENIED};
  EXPECT_EQ(DetachImageDisks(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(Output(), "!ERROR! Access is denied.\r\n\n");
}

// Where the backing-file control code names no file, or one that is not
// there, the storage dependency query names it. A drive with the image's
// identity on another bus than a file-backed virtual disk's, or that does
// not say (a phone flashed from the image), is left alone without a warning:
// a mount stops before it makes anything, --detach is done.
TEST_F(Sweep, TheDependencyQueryNamesTheFileAndRealDevicesAreLeftAlone) {
  const std::wstring ours = OwnFile(L"kmd1.vhd");
  Fake().fileAttributes = [&](LPCWSTR path) { return path == ours ? 0 : INVALID_FILE_ATTRIBUTES; };
  names = {L"PhysicalDrive1", L"PhysicalDrive2", L"PhysicalDrive3", L"PhysicalDrive4"};
  drives[L"PhysicalDrive1"] = {kImageDiskId, L"/gone/kmd1.vhd"};
  drives[L"PhysicalDrive1"].dependencyFile = ours;
  drives[L"PhysicalDrive2"] = {kImageDiskId, L""};
  drives[L"PhysicalDrive2"].bus = BusTypeUsb;
  drives[L"PhysicalDrive3"] = {kImageDiskId, L""};
  drives[L"PhysicalDrive4"] = {kImageDiskId, L""};
  drives[L"PhysicalDrive4"].bus = kNoBus;
  EXPECT_EQ(DetachImageDisks(), ERROR_BUSY);
  EXPECT_EQ(detached, std::vector<std::wstring>{ours});
  EXPECT_EQ(deleted, detached);
  names = {L"PhysicalDrive2", L"PhysicalDrive4"};
  EXPECT_EQ(DetachImageDisks(SweepFor::kDetach), 0);
  names = {L"PhysicalDrive4"};
  EXPECT_EQ(DetachImageDisks(), ERROR_BUSY);
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(),
            "(Korvex) !WARNING! Successfully detached vhd file : '" + ToUtf8(ours) +
                "'\n"
                "(Korvex) !WARNING! Unable to query vhd file name.\n"
                "(Korvex) !ERROR! The device '\\\\.\\PhysicalDrive2' carries the image's disk "
                "identity and is not a virtual disk: disconnect it and run again.\n"
                "(Korvex) !ERROR! The device '\\\\.\\PhysicalDrive4' carries the image's disk "
                "identity and is not a virtual disk: disconnect it and run again.\n");
}

// A card reader without a card, or a drive gone since the names were listed,
// is passed by without a line; the image disk after it is still swept.
TEST_F(Sweep, EmptyOrVanishedDrivesArePassedBy) {
  struct Case {
    DWORD openError, layoutError;
  } cases[] = {{ERROR_FILE_NOT_FOUND, 0},      {ERROR_PATH_NOT_FOUND, 0},
               {ERROR_NOT_READY, 0},           {ERROR_NO_MEDIA_IN_DRIVE, 0},
               {ERROR_DEVICE_NOT_CONNECTED, 0}, {ERROR_NO_SUCH_DEVICE, 0},
               {ERROR_DEV_NOT_EXIST, 0},       {0, ERROR_NOT_READY},
               {0, ERROR_NO_MEDIA_IN_DRIVE},   {0, ERROR_DEVICE_NOT_CONNECTED},
               {0, ERROR_DEV_NOT_EXIST}};
  names = {L"PhysicalDrive0", L"PhysicalDrive1"};
  std::string expected;
  for (const Case& c : cases) {
    drives[L"PhysicalDrive0"] = {kOtherDiskId, L"", c.layoutError, c.openError};
    drives[L"PhysicalDrive1"] = {kImageDiskId, L"/tmp/kmd1.vhd"};
    EXPECT_EQ(DetachImageDisks(), 0) << "open " << c.openError << ", layout " << c.layoutError;
    expected += "(Korvex) !WARNING! Successfully detached vhd file : '/tmp/kmd1.vhd'\n";
  }
  EXPECT_EQ(detached.size(), sizeof(cases) / sizeof(cases[0]));
  EXPECT_EQ(openHandles, 0);
  EXPECT_EQ(Output(), expected);
}

TEST_F(Sweep, ALongNameListIsFetchedWithADoublingBuffer) {
  names = {L"PhysicalDrive0"};
  drives[L"PhysicalDrive0"] = {kOtherDiskId, L""};
  padding = 3000;
  EXPECT_EQ(DetachImageDisks(), 0);
  EXPECT_EQ(listSizes, (std::vector<DWORD>{1024, 2048, 4096}));
  EXPECT_EQ(opened.size(), 1u);
}

TEST_F(Sweep, NamesThatCannotBeListedFailTheSweep) {
  Fake().queryDosDevice = [](LPCWSTR, LPWSTR, DWORD) -> DWORD {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  };
  EXPECT_NE(DetachImageDisks(), 0);
  EXPECT_EQ(Output(),
            "!ERROR! Access is denied.\r\n\n"
            "(Korvex) !ERROR! Unable to query dos devices.\n");
}
}  // namespace
