#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "apartment.h"
#include "platform.h"
#include "support/kernel/helper_descriptors.h"
#include "support/runtime/errors.h"
#include "support/runtime/text.h"
#include "support/users/run_owner.h"
#include "support/users/session_user.h"

// "open" on a folder: with a desktop session the desktop's opener shows it,
// detached from this process; without one the folder's full path is printed
// on a line of its own, so that the user can go there.

namespace {
// Results of the shell call: above 32 is success, as the system reports it.
constexpr intptr_t kStarted = 42;
constexpr intptr_t kFileNotFound = 2;
constexpr intptr_t kOutOfResources = 0;
constexpr intptr_t kNoAssociation = 31;

HINSTANCE Result(intptr_t value) { return reinterpret_cast<HINSTANCE>(value); }

bool HasDesktopSession() {
  const char* display = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  return (display != nullptr && display[0] != '\0') ||
         (wayland != nullptr && wayland[0] != '\0');
}

// The opener's full path from PATH, or empty.
std::string FindOpener() {
  const char* path = getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    const std::string candidate = (folder.empty() ? "." : folder) + "/xdg-open";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

std::wstring FullPath(const wchar_t* file) {
  if (file[0] == L'/') return file;
  char* current = getcwd(nullptr, 0);
  std::wstring path = current != nullptr ? FromUtf8(current) : L"";
  free(current);
  if (path.empty() || path.back() != L'/') path += L'/';
  return path + file;
}

// Starts the opener in a new session whose stdio is /dev/null, through an
// intermediate child so that it is nobody's child here, as the user the run
// was made for. A pipe that closes on exec tells whether the start worked.
// Returns: 0 once started, kNoProcess when no process could be made, else
// the errno of the failed start.
constexpr int kNoProcess = -1;
int StartDetached(const std::string& opener, const std::string& target) {
  SessionUser user;
  if (!user.Prepare(CurrentRunOwner())) return kNoProcess;
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return kNoProcess;
  CloseDescriptorsOnExec();
  char* const arguments[] = {const_cast<char*>(opener.c_str()),
                             const_cast<char*>(target.c_str()), nullptr};
  const pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return kNoProcess;
  }
  if (child == 0) {
    setsid();
    const pid_t opener = fork();
    if (opener < 0) {
      const int error = errno;
      ssize_t ignored = write(report[1], &error, sizeof error);
      (void)ignored;
    }
    if (opener == 0 && !user.Become()) {
      const int error = errno;
      ssize_t ignored = write(report[1], &error, sizeof error);
      (void)ignored;
      _exit(0);
    }
    if (opener == 0) {
      signal(SIGPIPE, SIG_DFL);
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
      }
      execve(arguments[0], arguments, user.Environment());
      const int error = errno;
      ssize_t ignored = write(report[1], &error, sizeof error);
      (void)ignored;
    }
    _exit(0);
  }
  close(report[1]);
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t count;
  while ((count = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return count <= 0 ? 0 : error;
}
}  // namespace

HINSTANCE ShellExecuteW(HWND owner, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int showCommand) {
  (void)owner, (void)parameters, (void)directory, (void)showCommand;
  if (operation != nullptr && wcscmp(operation, L"open") != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return Result(kNoAssociation);
  }
  if (file == nullptr || file[0] == L'\0') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return Result(kFileNotFound);
  }
  const std::string target = ToUtf8(file);
  struct stat status {};
  if (stat(target.c_str(), &status) != 0) {
    SetLastError(Win32FromErrno(errno));
    return Result(kFileNotFound);
  }
  // A folder opens through the shell's extensions, which need COM on the
  // calling thread: without it the verb is not found.
  if (S_ISDIR(status.st_mode) && !ComInitializedOnThisThread()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return Result(kNoAssociation);
  }
  const std::string opener = HasDesktopSession() ? FindOpener() : std::string();
  if (opener.empty()) {
    PrintWide(L"%s\n", PrintableName(FullPath(file)).c_str());
    return Result(kStarted);
  }
  const int error = StartDetached(opener, target);
  if (error == 0) return Result(kStarted);
  if (error == kNoProcess) return Result(kOutOfResources);
  SetLastError(Win32FromErrno(error));
  return Result(error == ENOENT ? kFileNotFound : kNoAssociation);
}
