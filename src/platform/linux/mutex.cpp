// Named mutexes as lock files held with flock: "Global\" names of root in the
// machine's lock folder, every other name in the caller's temporary folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "last_error.h"
#include "platform.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/text.h"
#include "support/users/temp_folder.h"
#include "waits.h"

namespace {
constexpr long kPollMs = 20;

constexpr wchar_t kGlobalPrefix[] = L"Global\\";

// The file name of the lock of "Global\Name", "Local\Name" or "Name". Empty
// for a name that cannot be a file name.
std::wstring LockFileName(LPCWSTR name) {
  std::wstring rest = name;
  for (const wchar_t* prefix : {kGlobalPrefix, L"Local\\"}) {
    const std::wstring text = prefix;
    if (rest.compare(0, text.size(), text) == 0) {
      rest = rest.substr(text.size());
      break;
    }
  }
  if (rest.empty() || rest == L"." || rest == L".." ||
      rest.find_first_of(L"/\\") != std::wstring::npos) {
    return std::wstring();
  }
  return rest + L".lock";
}

// The folder that holds the lock, ending in '/'. A global name of root's
// holds for the whole machine, whatever TMPDIR says: only root can attach
// disks, and its lock folder is root's alone, so no other user can open the
// lock file, let alone hold it (flock takes a file opened for reading too).
// A caller without root cannot attach a disk and so cannot disturb a run of
// root's: its names stay in its own temporary folder, where its own runs
// still exclude each other.
DWORD LockFolder(LPCWSTR name, std::string* folder) {
  if (geteuid() == 0 && wcsncmp(name, kGlobalPrefix, wcslen(kGlobalPrefix)) == 0) {
    std::string reason;
    const DWORD code = PrepareMachineLockFolder(&reason);
    if (code != ERROR_SUCCESS) {
      PrintWide(L"!ERROR! The lock folder '%s' is refused: %s.\n",
                PrintableName(FromUtf8(MachineLockFolderPath())).c_str(), FromUtf8(reason).c_str());
      return code;
    }
    *folder = MachineLockFolderPath();
    return ERROR_SUCCESS;
  }
  wchar_t temp[MAX_PATH] = {};
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH)
    return length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
  *folder = ToUtf8(std::wstring(temp, length));
  return ERROR_SUCCESS;
}

uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

// Takes the lock within `milliseconds`. Returns: a Win32 code,
// ERROR_TIMEOUT when another holder keeps it that long.
DWORD Lock(int fd, DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return Win32FromErrno(errno);
    }
    return ERROR_SUCCESS;
  }
  const uint64_t deadline = NowMs() + milliseconds;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return ERROR_SUCCESS;
    if (errno != EWOULDBLOCK && errno != EINTR) return Win32FromErrno(errno);
    const uint64_t now = NowMs();
    if (now >= deadline) return ERROR_TIMEOUT;
    const uint64_t pause = deadline - now < kPollMs ? deadline - now : kPollMs;
    timespec delay{0, static_cast<long>(pause) * 1000000L};
    nanosleep(&delay, nullptr);
  }
}

// The holder writes its process id into the file and removes the file when
// it releases; a file that is not empty at the next acquisition was left by
// a holder that ended without releasing. Returns: a Win32 code.
DWORD MarkHeld(int fd, bool* abandoned) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return Win32FromErrno(errno);
  *abandoned = status.st_size > 0;
  const std::string text = std::to_string(getpid()) + "\n";
  const bool marked = ftruncate(fd, 0) == 0 &&
                      pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
  return marked ? ERROR_SUCCESS : Win32FromErrno(errno);
}

// Whether the descriptor still is the file at `path`: a holder removes the
// file on release, so a waiter may have locked a file that is gone.
bool StillAtPath(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

int OpenLockFile(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// Locks the file at the mutex's path within `milliseconds`, following it
// when a holder removed it in between. Returns: a Win32 code, ERROR_TIMEOUT
// when another holder keeps it that long.
DWORD LockAtPath(LinuxHandle& mutex, DWORD milliseconds) {
  const uint64_t deadline = milliseconds == INFINITE ? 0 : NowMs() + milliseconds;
  for (;;) {
    DWORD left = INFINITE;
    if (milliseconds != INFINITE) {
      const uint64_t now = NowMs();
      left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    const DWORD code = Lock(mutex.fd, left);
    if (code != ERROR_SUCCESS) return code;
    if (StillAtPath(mutex.fd, mutex.path)) return ERROR_SUCCESS;
    flock(mutex.fd, LOCK_UN);
    const int fd = OpenLockFile(mutex.path);
    if (fd < 0) return Win32FromErrno(errno);
    close(mutex.fd);
    mutex.fd = fd;
  }
}
}  // namespace

namespace {
// Opens the handle of the named mutex's lock file into *mutex; `create`
// makes the file when it is missing (a mutex nobody holds has none).
// Returns: a Win32 code.
DWORD OpenNamedMutex(LPCWSTR name, bool create, HANDLE* mutex) {
  const std::wstring file = name == nullptr ? std::wstring() : LockFileName(name);
  if (file.empty()) return ERROR_INVALID_NAME;
  std::string folder;
  const DWORD code = LockFolder(name, &folder);
  if (code != ERROR_SUCCESS) return code;
  const std::string path = folder + ToUtf8(file);
  const int fd = create ? OpenLockFile(path)
                        : open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Win32FromErrno(errno);
  LinuxHandle* handle = new LinuxHandle;
  handle->kind = HandleKind::kMutex;
  handle->fd = fd;
  handle->path = path;
  *mutex = handle;
  return ERROR_SUCCESS;
}
}  // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
  HANDLE mutex = nullptr;
  // Only what the program uses: a named mutex, not owned on creation.
  SetLastError(name == nullptr || initialOwner ? ERROR_NOT_SUPPORTED
                                               : OpenNamedMutex(name, true, &mutex));
  return mutex;
}

HANDLE OpenMutexW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name) {
  (void)desiredAccess, (void)inheritHandle;
  HANDLE mutex = nullptr;
  SetLastError(OpenNamedMutex(name, false, &mutex));
  return mutex;
}

DWORD WaitForMutex(LinuxHandle* mutex, DWORD milliseconds) {
  if (mutex->owned > 0) {  // a mutex is recursive for its holder
    ++mutex->owned;
    return WAIT_OBJECT_0;
  }
  const DWORD code = LockAtPath(*mutex, milliseconds);
  if (code == ERROR_TIMEOUT) return WAIT_TIMEOUT;
  if (code != ERROR_SUCCESS) {
    SetLastError(code);
    return WAIT_FAILED;
  }
  bool abandoned = false;
  const DWORD marked = MarkHeld(mutex->fd, &abandoned);
  if (marked != ERROR_SUCCESS) {
    flock(mutex->fd, LOCK_UN);
    SetLastError(marked);
    return WAIT_FAILED;
  }
  mutex->owned = 1;
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE object) {
  LinuxHandle* mutex = HandleOf(object, HandleKind::kMutex);
  if (mutex == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (mutex->owned == 0) return FailWith(ERROR_NOT_OWNER);
  if (--mutex->owned > 0) return TRUE;
  // Removed while still locked, so that no file stays behind a run; a
  // waiter that locked the old file notices and opens the path anew.
  const int removeError = unlink(mutex->path.c_str()) == 0 ? 0 : errno;
  const int unlockError = flock(mutex->fd, LOCK_UN) == 0 ? 0 : errno;
  const int error = removeError != 0 && removeError != ENOENT ? removeError : unlockError;
  if (error != 0) return FailWith(Win32FromErrno(error));
  return TRUE;
}
