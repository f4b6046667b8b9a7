// An image disk end to end through the platform calls: attach, write a GPT,
// partition volumes arrive, mount one on a folder, list, unmount, detach.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include "LoopTestScratch.h"
#include "NeedsRoot.h"
#include "linux/support/formats/gpt.h"
#include "win32.h"

namespace {

using loop_test::AttachScratchVhd;
using loop_test::DetachVhd;
using loop_test::DriveNumber;
using loop_test::LoopScratch;
using loop_test::ReadLine;

const char kImageDiskId[] = "AE420040-13DD-41F2-AE7F-0DC35854C8D7";
const std::wstring kEfiespGuid = L"{0C1B2A39-4857-4665-8473-829100AABBCC}";
const std::wstring kMainOsGuid = L"{12345678-9ABC-4DEF-8123-456789ABCDEF}";
const uint64_t kDiskSize = 64ull << 20;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::wstring> MultiString(const WCHAR* text) {
  std::vector<std::wstring> strings;
  while (*text != L'\0') {
    strings.emplace_back(text);
    text += strings.back().size() + 1;
  }
  return strings;
}

std::wstring VolumeName(const std::wstring& guid) { return L"\\\\?\\Volume" + guid + L"\\"; }
// Windows hands out volume names with the GUID in lower case.
std::wstring LowerCase(std::wstring text) {
  for (wchar_t& character : text) character = static_cast<wchar_t>(towlower(character));
  return text;
}
std::wstring VolumeDevice(const std::wstring& guid) { return L"\\\\.\\Volume" + guid; }

class VolumeMountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    ASSERT_TRUE(scratch.Ready());
  }
  void TearDown() override {
    if (drive != INVALID_HANDLE_VALUE) CloseHandle(drive);
  }

  // sgdisk arguments for EFIESP (8 MiB at 1 MiB) and MainOS (the rest), both
  // basic data partitions.
  static std::string TwoPartitions() {
    return std::string("-o -U ") + kImageDiskId + " -n 1:2048:+8M -c 1:EFIESP -t 1:0700 -u 1:" +
           Narrow(kEfiespGuid.substr(1, 36)) + " -n 2:0:0 -c 2:MainOS -t 2:0700 -u 2:" +
           Narrow(kMainOsGuid.substr(1, 36));
  }

  void AttachDisk(ULONG sectorSize = 512) {
    ASSERT_EQ(AttachScratchVhd(scratch.WidePath("kmd1.tmp.vhd"), kDiskSize, sectorSize,
                               &drivePath),
              0u);
    driveNumber = DriveNumber(drivePath);
    ASSERT_GE(driveNumber, 0);
    drive = CreateFileW(drivePath.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE) << GetLastError();
  }

  // Writes a disk image made by sgdisk onto the drive, as the payload copy does.
  void WriteImage(const std::string& sgdiskArguments) {
    const std::string image = scratch.Path("image.raw");
    unlink(image.c_str());
    ASSERT_EQ(RunCommand("truncate -s " + std::to_string(kDiskSize) + " '" + image + "'"), 0);
    ASSERT_EQ(RunCommand("sgdisk " + sgdiskArguments + " '" + image + "'"), 0);
    const int fd = open(image.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    LARGE_INTEGER start;
    start.QuadPart = 0;
    ASSERT_TRUE(SetFilePointerEx(drive, start, nullptr, FILE_BEGIN));
    std::vector<char> chunk(1 << 20);
    ssize_t count;
    while ((count = read(fd, chunk.data(), chunk.size())) > 0) {
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(drive, chunk.data(), static_cast<DWORD>(count), &written, nullptr));
      ASSERT_EQ(written, static_cast<DWORD>(count));
    }
    close(fd);
  }

  void AttachImageDisk() {
    ASSERT_NO_FATAL_FAILURE(AttachDisk());
    ASSERT_NO_FATAL_FAILURE(WriteImage(TwoPartitions()));
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                                &bytes, nullptr))
        << GetLastError();
  }

  // "/dev/loopN" of a DOS device name.
  std::string Target(const std::wstring& name) {
    WCHAR buffer[64] = {};
    if (QueryDosDeviceW(name.c_str(), buffer, 64) == 0) return std::string();
    return Narrow(buffer);
  }

  void MakeNtfs(const std::wstring& guid) {
    const std::string device = Target(L"Volume" + guid);
    ASSERT_FALSE(device.empty());
    ASSERT_EQ(RunCommand("mkntfs -Q -F -q -L MainOS " + device), 0);
  }

  std::string MakeFolder(const std::string& name) {
    const std::string path = scratch.Path(name);
    mkdir(path.c_str(), 0755);
    return path;
  }

  std::vector<std::wstring> PathNames(const std::wstring& guid) {
    WCHAR buffer[260];
    DWORD length = 0;
    if (!GetVolumePathNamesForVolumeNameW(VolumeName(guid).c_str(), buffer, 260, &length)) {
      ADD_FAILURE() << "path names: " << GetLastError();
      return {};
    }
    return MultiString(buffer);
  }

  LoopScratch scratch;
  std::wstring drivePath;
  int driveNumber = -1;
  HANDLE drive = INVALID_HANDLE_VALUE;
};

TEST_F(VolumeMountTest, ImageDiskFromAttachToDetach) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());

  std::vector<uint8_t> buffer(1024);
  DWORD bytes = 0;
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                              1024, &bytes, nullptr));
  const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  ASSERT_EQ(layout->PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_GPT));
  ASSERT_EQ(layout->PartitionCount, 2u);
  EXPECT_EQ(bytes, 48u + 2 * 144);
  EXPECT_EQ(GuidText(layout->Gpt.DiskId), L"{" + Wide(kImageDiskId) + L"}");
  EXPECT_EQ(GuidText(layout->PartitionEntry[0].Gpt.PartitionId), kEfiespGuid);
  const PARTITION_INFORMATION_EX& mainOs = layout->PartitionEntry[1];
  EXPECT_EQ(GuidText(mainOs.Gpt.PartitionId), kMainOsGuid);
  const char16_t expectedName[] = u"MainOS";
  EXPECT_EQ(0, memcmp(mainOs.Gpt.Name, expectedName, sizeof(expectedName)));

  for (const std::wstring& guid : {kEfiespGuid, kMainOsGuid}) {
    HANDLE volume = CreateFileW(VolumeDevice(guid).c_str(), GENERIC_READ | GENERIC_WRITE, 7,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE) << "volume did not arrive: " << GetLastError();
    CloseHandle(volume);
  }
  const std::string volumeDevice = Target(L"Volume" + kMainOsGuid);
  ASSERT_FALSE(volumeDevice.empty());
  const std::string sys = "/sys/block/" + volumeDevice.substr(5) + "/";
  EXPECT_EQ(ReadLine(sys + "loop/offset"), std::to_string(mainOs.StartingOffset.QuadPart));
  EXPECT_EQ(ReadLine(sys + "loop/sizelimit"), std::to_string(mainOs.PartitionLength.QuadPart));
  EXPECT_EQ(ReadLine(sys + "loop/autoclear"), "0");

  ASSERT_NO_FATAL_FAILURE(MakeNtfs(kMainOsGuid));
  const std::string folder = MakeFolder("Phone.mnt");
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder + "/").c_str(), VolumeName(kMainOsGuid).c_str()))
      << GetLastError();
  EXPECT_FALSE(SetVolumeMountPointW(Wide(folder + "/").c_str(), VolumeName(kMainOsGuid).c_str()))
      << "mounted twice on one folder";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  { std::ofstream(folder + "/hello.txt") << "hello"; }
  EXPECT_EQ(ReadLine(folder + "/hello.txt"), "hello");
  EXPECT_EQ(PathNames(kMainOsGuid), std::vector<std::wstring>{Wide(folder + "/")});
  WCHAR name[64] = {};
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(Wide(folder + "/").c_str(), name, 64));
  EXPECT_EQ(std::wstring(name), VolumeName(LowerCase(kMainOsGuid)));
  const std::string options = CommandOutput("findmnt -n -o OPTIONS '" + folder + "'");
  EXPECT_NE(options.find("nosuid"), std::string::npos) << options;
  EXPECT_NE(options.find("nodev"), std::string::npos) << options;
  EXPECT_EQ(CommandOutput("findmnt -n -o FSTYPE '" + folder + "'"), "fuseblk\n")
      << "NTFS goes through ntfs-3g";

  ASSERT_TRUE(DeleteVolumeMountPointW(Wide(folder + "/").c_str())) << GetLastError();
  EXPECT_TRUE(PathNames(kMainOsGuid).empty());
  EXPECT_FALSE(DeleteVolumeMountPointW(Wide(folder + "/").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_A_REPARSE_POINT));

  // Mounted again, the file is still there: it went onto the disk.
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder + "/").c_str(), VolumeName(kMainOsGuid).c_str()));
  EXPECT_EQ(ReadLine(folder + "/hello.txt"), "hello");
  ASSERT_TRUE(DeleteVolumeMountPointW(Wide(folder).c_str()));

  CloseHandle(drive);
  drive = INVALID_HANDLE_VALUE;
  EXPECT_EQ(DetachVhd(scratch.WidePath("kmd1.tmp.vhd")), 0u);
  EXPECT_TRUE(scratch.DiskLoops().empty());
  const std::string loops = CommandOutput("losetup -a");
  EXPECT_EQ(loops.find(scratch.Path("")), std::string::npos) << loops;
  EXPECT_EQ(loops.find("/dev/loop" + std::to_string(driveNumber) + ")"), std::string::npos)
      << loops;
}

// The kernel here has no FAT driver: FAT goes through its FUSE driver, which
// must still be found by its device, listed and unmounted like any volume.
TEST_F(VolumeMountTest, FatVolumeFromMountToUnmount) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  const std::string device = Target(L"Volume" + kEfiespGuid);
  ASSERT_FALSE(device.empty());
  const std::string file = scratch.Path("boot.txt");
  { std::ofstream(file) << "boot"; }
  ASSERT_EQ(RunCommand("mkfs.vfat " + device + " >/dev/null"), 0);
  ASSERT_EQ(RunCommand("mcopy -i " + device + " '" + file + "' ::/BOOT.TXT"), 0);

  const std::string folder = MakeFolder("Efiesp.mnt");
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder + "/").c_str(), VolumeName(kEfiespGuid).c_str()))
      << GetLastError();
  EXPECT_EQ(CommandOutput("cd '" + folder + "' && ls && cat BOOT.TXT"), "BOOT.TXT\nboot");
  EXPECT_EQ(PathNames(kEfiespGuid), std::vector<std::wstring>{Wide(folder + "/")});
  ASSERT_TRUE(DeleteVolumeMountPointW(Wide(folder + "/").c_str())) << GetLastError();
  EXPECT_TRUE(PathNames(kEfiespGuid).empty());
  EXPECT_EQ(CommandOutput("findmnt -n '" + folder + "'"), "");
  CloseHandle(drive);
  drive = INVALID_HANDLE_VALUE;
  EXPECT_EQ(DetachVhd(scratch.WidePath("kmd1.tmp.vhd")), 0u);
  EXPECT_TRUE(scratch.DiskLoops().empty());
}

TEST_F(VolumeMountTest, AMountedVolumeKeepsItsDiskAttached) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  ASSERT_NO_FATAL_FAILURE(MakeNtfs(kMainOsGuid));
  const std::string folder = MakeFolder("Phone.mnt");
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder + "/").c_str(), VolumeName(kMainOsGuid).c_str()));
  EXPECT_EQ(DetachVhd(scratch.WidePath("kmd1.tmp.vhd")),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(scratch.DiskLoops().size(), 1u);
  EXPECT_EQ(scratch.VolumeLoops().size(), 2u);
  EXPECT_EQ(PathNames(kMainOsGuid).size(), 1u);
  // As on Windows, its sectors are not written through the disk; others are:
  // the protective MBR, EFIESP (not mounted), MainOS, across MainOS's start.
  const struct { LONGLONG offset; DWORD length; bool written; } writes[] = {
      {0, 512, true}, {1 << 20, 512, true}, {9 << 20, 512, false}, {(9 << 20) - 512, 1024, false}};
  std::vector<char> bytes(1024);
  for (const auto& w : writes) {
    LARGE_INTEGER at;
    at.QuadPart = w.offset;
    DWORD moved = 0;
    ASSERT_TRUE(SetFilePointerEx(drive, at, nullptr, FILE_BEGIN) &&
                ReadFile(drive, bytes.data(), w.length, &moved, nullptr) &&
                SetFilePointerEx(drive, at, nullptr, FILE_BEGIN));
    EXPECT_EQ(WriteFile(drive, bytes.data(), w.length, &moved, nullptr) != 0, w.written) << w.offset;
    if (!w.written) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
  }
}

TEST_F(VolumeMountTest, MountFolderMustBeAnEmptyRealDirectory) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  ASSERT_NO_FATAL_FAILURE(MakeNtfs(kMainOsGuid));
  const std::string target = MakeFolder("target");
  ASSERT_EQ(symlink(target.c_str(), scratch.Path("link").c_str()), 0);
  { std::ofstream(scratch.Path("file")) << "x"; }
  const std::string full = MakeFolder("full");
  { std::ofstream(full + "/inside") << "x"; }
  const std::string foreign = MakeFolder("foreign");
  ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
  // An empty file system mounted on a folder still makes it taken.
  const std::string carrying = MakeFolder("carrying");
  ASSERT_EQ(RunCommand("mount -t tmpfs -o size=64k none '" + carrying + "'"), 0);
  struct Case {
    std::string folder;
    DWORD error;
  } cases[] = {{scratch.Path("link") + "/", ERROR_DIRECTORY},
               {scratch.Path("file"), ERROR_DIRECTORY},
               {full + "/", ERROR_DIR_NOT_EMPTY},
               {carrying + "/", ERROR_DIR_NOT_EMPTY},
               {foreign + "/", ERROR_ACCESS_DENIED},
               {scratch.Path("missing") + "/", ERROR_FILE_NOT_FOUND}};
  for (const Case& c : cases) {
    EXPECT_FALSE(SetVolumeMountPointW(Wide(c.folder).c_str(), VolumeName(kMainOsGuid).c_str()))
        << c.folder;
    EXPECT_EQ(GetLastError(), c.error) << c.folder;
  }
  RunCommand("umount '" + carrying + "'");
  EXPECT_TRUE(PathNames(kMainOsGuid).empty());
  EXPECT_EQ(std::string(), CommandOutput("ls -A '" + target + "'")) << "nothing through the link";
}

TEST_F(VolumeMountTest, VolumesThatCannotBeMounted) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  const std::string folder = MakeFolder("Phone.mnt");
  // EFIESP holds no file system yet: as on Windows the folder is linked to
  // the RAW volume all the same, and only the volume's information fails.
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder + "/").c_str(), VolumeName(kEfiespGuid).c_str()));
  WCHAR fileSystem[MAX_PATH + 1] = {};
  EXPECT_FALSE(GetVolumeInformationW(Wide(folder + "/").c_str(), nullptr, 0, nullptr, nullptr,
                                     nullptr, fileSystem, MAX_PATH + 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNRECOGNIZED_VOLUME));
  EXPECT_EQ(PathNames(kEfiespGuid), std::vector<std::wstring>{Wide(folder + "/")});
  EXPECT_TRUE(DeleteVolumeMountPointW(Wide(folder + "/").c_str()));
  EXPECT_TRUE(PathNames(kEfiespGuid).empty());
  const std::wstring unknown = L"{00000000-1111-2222-3333-444444444444}";
  EXPECT_FALSE(SetVolumeMountPointW(Wide(folder).c_str(), VolumeName(unknown).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(VolumeDevice(unknown).c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  WCHAR name[64];
  EXPECT_FALSE(GetVolumeNameForVolumeMountPointW(Wide(folder).c_str(), name, 64));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_A_REPARSE_POINT));
  EXPECT_FALSE(DeleteVolumeMountPointW(L"/"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_A_REPARSE_POINT));
}

TEST_F(VolumeMountTest, PathNamesReportTheLengthTheyNeed) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  ASSERT_NO_FATAL_FAILURE(MakeNtfs(kMainOsGuid));
  const std::string folder = MakeFolder("Phone.mnt");
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder).c_str(), VolumeName(kMainOsGuid).c_str()));
  const DWORD needed = static_cast<DWORD>(folder.size() + 1 + 1 + 1);  // '/', NUL, final NUL
  WCHAR buffer[260];
  DWORD length = 0;
  EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(VolumeName(kMainOsGuid).c_str(), buffer,
                                                needed - 1, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(length, needed);
  EXPECT_TRUE(GetVolumePathNamesForVolumeNameW(VolumeName(kMainOsGuid).c_str(), buffer, needed,
                                               &length));
  EXPECT_EQ(MultiString(buffer), std::vector<std::wstring>{Wide(folder + "/")});
}

TEST_F(VolumeMountTest, DosDevicesListDrivesThenVolumes) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  std::vector<WCHAR> buffer(16);
  DWORD count;
  while ((count = QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()))) ==
         0) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_LT(buffer.size(), 1u << 20);
    buffer.resize(buffer.size() * 2);
  }
  const std::vector<std::wstring> names = MultiString(buffer.data());
  size_t units = 1;
  for (const std::wstring& name : names) units += name.size() + 1;
  EXPECT_EQ(count, units);
  const std::wstring driveName = L"PhysicalDrive" + std::to_wstring(driveNumber);
  const std::string efiesp = Target(L"Volume" + kEfiespGuid);
  const std::string mainOs = Target(L"Volume" + kMainOsGuid);
  ASSERT_FALSE(efiesp.empty());
  ASSERT_FALSE(mainOs.empty());
  size_t drivesEnd = 0, driveAt = names.size(), efiespAt = names.size(), mainOsAt = names.size();
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].compare(0, 13, L"PhysicalDrive") == 0) drivesEnd = i + 1;
    if (names[i] == driveName) driveAt = i;
    if (names[i] == L"Volume" + LowerCase(kEfiespGuid)) efiespAt = i;
    if (names[i] == L"Volume" + LowerCase(kMainOsGuid)) mainOsAt = i;
    // A partition volume is no physical drive.
    EXPECT_NE(names[i], L"PhysicalDrive" + Wide(efiesp.substr(9)));
    EXPECT_NE(names[i], L"PhysicalDrive" + Wide(mainOs.substr(9)));
  }
  EXPECT_LT(driveAt, names.size());
  EXPECT_LT(efiespAt, names.size());
  EXPECT_LT(mainOsAt, names.size());
  EXPECT_GE(efiespAt, drivesEnd);
  EXPECT_GE(mainOsAt, drivesEnd);
  EXPECT_EQ(QueryDosDeviceW(nullptr, buffer.data(), count - 1), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(Target(driveName), "/dev/loop" + std::to_string(driveNumber));
  EXPECT_EQ(Target(L"PhysicalDrive"), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Target(L"Volume{00000000-1111-2222-3333-444444444444}"), "");
}

TEST_F(VolumeMountTest, DeviceQueriesOnDrivesAndVolumes) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  WCHAR backing[260] = {};
  DWORD bytes = 0;
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, backing,
                              sizeof(backing), &bytes, nullptr));
  EXPECT_EQ(std::wstring(backing), scratch.WidePath("kmd1.tmp.vhd"));
  EXPECT_FALSE(DeviceIoControl(drive, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, backing,
                               static_cast<DWORD>(scratch.Path("kmd1.tmp.vhd").size() *
                                                  sizeof(WCHAR)),
                               &bytes, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  GET_DISK_ATTRIBUTES attributes;
  memset(&attributes, 0xFF, sizeof(attributes));
  attributes.Version = sizeof(attributes);
  EXPECT_TRUE(DeviceIoControl(drive, IOCTL_DISK_GET_DISK_ATTRIBUTES, nullptr, 0, &attributes,
                              sizeof(attributes), &bytes, nullptr));
  EXPECT_EQ(attributes.Attributes, 0u);
  EXPECT_FALSE(DeviceIoControl(drive, IOCTL_DISK_GET_DISK_ATTRIBUTES, nullptr, 0, &attributes, 8,
                               &bytes, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(DeviceIoControl(drive, CTL_CODE(7, 0x99, 0, 0), nullptr, 0, nullptr, 0, &bytes,
                               nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));

  std::vector<uint8_t> layout(48 + 144);
  EXPECT_FALSE(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.data(),
                               static_cast<DWORD>(layout.size()), &bytes, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  HANDLE volume = CreateFileW(VolumeDevice(kMainOsGuid).c_str(), GENERIC_READ, 7, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeviceIoControl(volume, IOCTL_STORAGE_GET_BACKING_FILE, nullptr, 0, backing,
                               sizeof(backing), &bytes, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  STORAGE_PROPERTY_QUERY query{StorageDeviceProperty, PropertyStandardQuery, {0}};
  STORAGE_DEVICE_DESCRIPTOR device{};  // of a loop over a file: a file-backed virtual disk
  EXPECT_TRUE(DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), &device,
                              sizeof(device), &bytes, nullptr));
  EXPECT_EQ(device.BusType, BusTypeFileBackedVirtual);
  EXPECT_FALSE(DeviceIoControl(volume, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                               &bytes, nullptr));
  CloseHandle(volume);

  HANDLE file = CreateFileW(scratch.WidePath("image.raw").c_str(), GENERIC_READ, 7, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeviceIoControl(file, IOCTL_DISK_GET_DISK_ATTRIBUTES, nullptr, 0, &attributes,
                               sizeof(attributes), &bytes, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  CloseHandle(file);
}

TEST_F(VolumeMountTest, ANewTableReplacesStaleVolumes) {
  ASSERT_NO_FATAL_FAILURE(AttachImageDisk());
  ASSERT_EQ(scratch.VolumeLoops().size(), 2u);
  // Only MainOS now, at another place.
  ASSERT_NO_FATAL_FAILURE(WriteImage(std::string("-o -U ") + kImageDiskId +
                                     " -n 1:4096:0 -c 1:MainOS -t 1:0700 -u 1:" +
                                     Narrow(kMainOsGuid.substr(1, 36))));
  DWORD bytes = 0;
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &bytes,
                              nullptr));
  EXPECT_EQ(scratch.VolumeLoops().size(), 1u);
  EXPECT_EQ(Target(L"Volume" + kEfiespGuid), "");
  const std::string mainOs = Target(L"Volume" + kMainOsGuid);
  ASSERT_FALSE(mainOs.empty());
  EXPECT_EQ(ReadLine("/sys/block/" + mainOs.substr(5) + "/loop/offset"),
            std::to_string(4096 * 512));
  // Asking again changes nothing.
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &bytes,
                              nullptr));
  EXPECT_EQ(Target(L"Volume" + kMainOsGuid), mainOs);
}

TEST_F(VolumeMountTest, DisksOf4096ByteSectors) {
  ASSERT_NO_FATAL_FAILURE(AttachDisk(4096));
  const std::string device = "/dev/loop" + std::to_string(driveNumber);
  // sgdisk on the drive itself, so that the table is in 4096-byte sectors.
  ASSERT_EQ(RunCommand("sgdisk " + TwoPartitions() + " " + device), 0);
  DWORD bytes = 0;
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &bytes,
                              nullptr));
  std::vector<uint8_t> buffer(1024);
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                              1024, &bytes, nullptr));
  const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  ASSERT_EQ(layout->PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_GPT));
  ASSERT_EQ(layout->PartitionCount, 2u);
  EXPECT_EQ(layout->PartitionEntry[0].StartingOffset.QuadPart, 2048 * 4096);
  EXPECT_EQ(layout->PartitionEntry[0].PartitionLength.QuadPart, 8 << 20);
  EXPECT_EQ(layout->Gpt.StartingUsableOffset.QuadPart, 6 * 4096);  // LBA 0-1, 4 entry sectors
  const std::string volume = Target(L"Volume" + kMainOsGuid);
  ASSERT_FALSE(volume.empty());
  EXPECT_EQ(ReadLine("/sys/block/" + volume.substr(5) + "/queue/logical_block_size"), "4096");
  ASSERT_NO_FATAL_FAILURE(MakeNtfs(kMainOsGuid));
  const std::string folder = MakeFolder("Phone.mnt");
  ASSERT_TRUE(SetVolumeMountPointW(Wide(folder).c_str(), VolumeName(kMainOsGuid).c_str()))
      << GetLastError();
  EXPECT_TRUE(DeleteVolumeMountPointW(Wide(folder).c_str()));
}

// As on Windows, only basic data partitions get volumes, and a hidden one
// (attribute bit 62) none.
TEST_F(VolumeMountTest, OnlyVisibleBasicDataPartitionsGetVolumes) {
  ASSERT_NO_FATAL_FAILURE(AttachDisk());
  ASSERT_NO_FATAL_FAILURE(WriteImage(std::string("-o -U ") + kImageDiskId +
                                     " -n 1:2048:+4M -t 1:EF00 -n 2:0:+4M -t 2:8300"
                                     " -n 3:0:+4M -t 3:0700 -A 3:set:62 -n 4:0:0 -t 4:0700"));
  DWORD bytes = 0;
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &bytes,
                              nullptr));
  const std::vector<int> volumes = scratch.VolumeLoops();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(CommandOutput("cat /sys/block/loop" + std::to_string(volumes[0]) + "/loop/offset"),
            std::to_string((2048 + 3 * 8192) * 512) + "\n");
}

TEST_F(VolumeMountTest, ARawDiskGetsNoVolumes) {
  ASSERT_NO_FATAL_FAILURE(AttachDisk());
  DWORD bytes = 0;
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &bytes,
                              nullptr));
  EXPECT_TRUE(scratch.VolumeLoops().empty());
  std::vector<uint8_t> buffer(1024);
  ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                              1024, &bytes, nullptr));
  const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  EXPECT_EQ(layout->PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_RAW));
  EXPECT_EQ(layout->PartitionCount, 0u);
  EXPECT_EQ(bytes, 48u);
}

}  // namespace
