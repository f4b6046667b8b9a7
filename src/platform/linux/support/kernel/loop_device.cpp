#include "loop_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "support/runtime/errors.h"

namespace {

const char kDevicePrefix[] = "/dev/loop";
const char kLostNameSuffix[] = " (deleted)";
const int kAttachAttempts = 16;

bool ReadSysText(const std::string& path, std::string* text) {
  std::ifstream stream(path);
  if (!stream) return false;
  std::getline(stream, *text);
  return !stream.bad();
}

uint64_t ReadSysNumber(const std::string& path) {
  std::string text;
  if (!ReadSysText(path, &text)) return 0;
  return strtoull(text.c_str(), nullptr, 10);
}

std::string SysLoopDirectory(int number) {
  return "/sys/block/loop" + std::to_string(number) + "/loop/";
}

bool SameFile(const std::string& path, const struct stat& target) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && status.st_dev == target.st_dev &&
         status.st_ino == target.st_ino;
}

}  // namespace

bool LoopHoldsFile(int number, const struct stat& target) {
  const int fd = open(LoopDevicePath(number).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct loop_info64 info;
  memset(&info, 0, sizeof(info));
  const bool matches = ioctl(fd, LOOP_GET_STATUS64, &info) == 0 &&
                       info.lo_device == static_cast<uint64_t>(target.st_dev) &&
                       info.lo_inode == static_cast<uint64_t>(target.st_ino);
  close(fd);
  return matches;
}

namespace {

void FillInfo(const LoopAttachRequest& request, bool directIo, struct loop_info64* info) {
  memset(info, 0, sizeof(*info));
  info->lo_offset = request.offset;
  info->lo_sizelimit = request.sizeLimit;
  if (directIo) info->lo_flags |= LO_FLAGS_DIRECT_IO;
  if (request.readOnly) info->lo_flags |= LO_FLAGS_READ_ONLY;
  strncpy(reinterpret_cast<char*>(info->lo_file_name), request.backingPath.c_str(),
          LO_NAME_SIZE - 1);
}

// For kernels without LOOP_CONFIGURE: the same settings in four steps.
int ConfigureInSteps(int device, int backing, const LoopAttachRequest& request, bool directIo) {
  if (ioctl(device, LOOP_SET_FD, backing) != 0) return errno;
  struct loop_info64 info;
  FillInfo(request, false, &info);
  if (ioctl(device, LOOP_SET_STATUS64, &info) != 0 ||
      ioctl(device, LOOP_SET_BLOCK_SIZE, static_cast<unsigned long>(request.blockSize)) != 0) {
    const int error = errno;
    ioctl(device, LOOP_CLR_FD, 0);
    return error;
  }
  if (directIo) ioctl(device, LOOP_SET_DIRECT_IO, 1ul);  // buffered I/O still works
  return 0;
}

int Configure(int device, int backing, const LoopAttachRequest& request, bool directIo) {
  struct loop_config config;
  memset(&config, 0, sizeof(config));
  config.fd = static_cast<uint32_t>(backing);
  config.block_size = request.blockSize;
  FillInfo(request, directIo, &config.info);
  if (ioctl(device, LOOP_CONFIGURE, &config) == 0) return 0;
  if (errno == ENOTTY) return ConfigureInSteps(device, backing, request, directIo);
  return errno;
}

// One try on the loop that the kernel offers as free: 0, or an errno value;
// EBUSY when another process took that loop first.
int AttachFree(int control, int backing, const LoopAttachRequest& request, int* number) {
  const int free = ioctl(control, LOOP_CTL_GET_FREE);
  if (free < 0) return errno;
  const int device = open(LoopDevicePath(free).c_str(), O_RDWR | O_CLOEXEC);
  if (device < 0) return errno == ENOENT ? EBUSY : errno;
  int error = Configure(device, backing, request, true);
  if (error == EINVAL) error = Configure(device, backing, request, false);
  close(device);
  if (error == 0) *number = free;
  return error;
}

}  // namespace

std::string LoopDevicePath(int number) {
  return kDevicePrefix + std::to_string(number);
}

int LoopNumberOfPath(const std::string& path) {
  const size_t prefixLength = sizeof(kDevicePrefix) - 1;
  if (path.compare(0, prefixLength, kDevicePrefix) != 0) return -1;
  const std::string digits = path.substr(prefixLength);
  if (digits.empty() || digits.size() > 7 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  return atoi(digits.c_str());
}

bool LoopReadBinding(int number, LoopBinding* binding) {
  if (number < 0) return false;
  const std::string directory = SysLoopDirectory(number);
  std::string backingFile;
  if (!ReadSysText(directory + "backing_file", &backingFile) || backingFile.empty()) {
    return false;
  }
  binding->number = number;
  binding->backingFile = backingFile;
  binding->offset = ReadSysNumber(directory + "offset");
  binding->sizeLimit = ReadSysNumber(directory + "sizelimit");
  return true;
}

std::vector<LoopBinding> LoopListBindings() {
  std::vector<LoopBinding> bindings;
  DIR* directory = opendir("/sys/block");
  if (directory == nullptr) return bindings;
  while (dirent* entry = readdir(directory)) {
    const int number = LoopNumberOfPath(std::string("/dev/") + entry->d_name);
    LoopBinding binding;
    if (LoopReadBinding(number, &binding)) bindings.push_back(binding);
  }
  closedir(directory);
  std::sort(bindings.begin(), bindings.end(),
            [](const LoopBinding& a, const LoopBinding& b) { return a.number < b.number; });
  return bindings;
}

int LoopDiskOf(const LoopBinding& binding) {
  return LoopNumberOfPath(binding.backingFile);
}

int LoopFindByFile(const std::string& path) {
  struct stat target;
  if (stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return -1;
  const std::vector<LoopBinding> bindings = LoopListBindings();
  for (const LoopBinding& binding : bindings) {
    if (LoopDiskOf(binding) < 0 && SameFile(binding.backingFile, target)) return binding.number;
  }
  for (const LoopBinding& binding : bindings) {
    if (LoopDiskOf(binding) < 0 && LoopHoldsFile(binding.number, target)) return binding.number;
  }
  return -1;
}

std::string LoopFileName(const LoopBinding& binding, bool* named) {
  const std::string& record = binding.backingFile;
  const size_t suffixLength = sizeof(kLostNameSuffix) - 1;
  *named = true;
  if (record.size() <= suffixLength ||
      record.compare(record.size() - suffixLength, suffixLength, kLostNameSuffix) != 0)
    return record;
  // A file may really be named so.
  struct stat status;
  if (stat(record.c_str(), &status) == 0 && LoopHoldsFile(binding.number, status)) return record;
  *named = false;
  return record.substr(0, record.size() - suffixLength);
}

int LoopFindByLostName(const std::string& path) {
  for (const LoopBinding& binding : LoopListBindings()) {
    bool named = true;
    if (LoopDiskOf(binding) < 0 && LoopFileName(binding, &named) == path && !named)
      return binding.number;
  }
  return -1;
}

DWORD LoopAttach(const LoopAttachRequest& request, int* number) {
  const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) return Win32FromErrno(errno);
  const int backing =
      open(request.backingPath.c_str(), (request.readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (backing < 0) {
    const int error = errno;
    close(control);
    return Win32FromErrno(error);
  }
  int error = EBUSY;
  for (int attempt = 0; attempt < kAttachAttempts && error == EBUSY; ++attempt) {
    error = AttachFree(control, backing, request, number);
  }
  close(backing);
  close(control);
  if (error != 0) return Win32FromErrno(error);
  return ERROR_SUCCESS;
}

DWORD LoopDetach(int number) {
  LoopBinding binding;
  if (!LoopReadBinding(number, &binding)) return ERROR_NOT_FOUND;
  const int device = open(LoopDevicePath(number).c_str(), O_RDONLY | O_CLOEXEC);
  if (device < 0) return Win32FromErrno(errno);
  const int result = ioctl(device, LOOP_CLR_FD, 0);
  const int error = errno;
  close(device);
  if (result != 0) {
    return error == ENXIO ? ERROR_NOT_FOUND : Win32FromErrno(error);
  }
  // The kernel unbinds on the last close; give it a moment to finish, so
  // that a caller listing loops right after sees this one gone.
  for (int wait = 0; wait < 20 && LoopReadBinding(number, &binding); ++wait) usleep(5000);
  return ERROR_SUCCESS;
}

uint32_t LoopLogicalBlockSize(int fd) {
  int size = 0;
  if (ioctl(fd, BLKSSZGET, &size) != 0 || size < 512) return 512;
  return static_cast<uint32_t>(size);
}
