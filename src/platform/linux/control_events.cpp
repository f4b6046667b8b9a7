// Console control events over signals. The signal handler only writes the
// event to a pipe; a thread of its own reads it and calls the routines, so
// that they may do what a Windows handler thread may do (take locks, wait).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "last_error.h"
#include "support/runtime/errors.h"

namespace {
struct EventSignal {
  int signal;
  DWORD event;
};
constexpr EventSignal kEventSignals[] = {
    {SIGINT, CTRL_C_EVENT}, {SIGHUP, CTRL_CLOSE_EVENT}, {SIGTERM, CTRL_SHUTDOWN_EVENT}};

std::mutex routinesLock;
std::vector<PHANDLER_ROUTINE> routines;
int eventPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  ssize_t ignored = write(eventPipe[1], &number, 1);
  (void)ignored;
  errno = saved;
}

DWORD EventOf(int signal) {
  for (const EventSignal& pair : kEventSignals)
    if (pair.signal == signal) return pair.event;
  return CTRL_C_EVENT;
}

// No routine took the event: the signal does what it does by default.
void DefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  kill(getpid(), signal);  // this thread blocks it; another one takes it
}

void Dispatch() {
  for (;;) {
    unsigned char number = 0;
    const ssize_t count = read(eventPipe[0], &number, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count != 1) return;
    std::vector<PHANDLER_ROUTINE> current;
    {
      std::lock_guard<std::mutex> hold(routinesLock);
      current.assign(routines.rbegin(), routines.rend());
    }
    bool handled = false;
    for (PHANDLER_ROUTINE routine : current)
      if (!handled && routine(EventOf(number))) handled = true;
    if (!handled) DefaultAction(number);
  }
}

// Once: the pipe, the thread (with the signals blocked, so that they reach
// the other threads' handler and never this one's read) and the handlers.
bool StartDispatch() {
  if (pipe2(eventPipe, O_CLOEXEC) != 0) return false;
  sigset_t signals, previous;
  sigemptyset(&signals);
  for (const EventSignal& pair : kEventSignals) sigaddset(&signals, pair.signal);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  try {
    std::thread(Dispatch).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  for (const EventSignal& pair : kEventSignals) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(pair.signal, &action, nullptr);
  }
  return true;
}
}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add) {
  // Only what the program uses: adding and removing a routine.
  if (handlerRoutine == nullptr) return FailWith(ERROR_NOT_SUPPORTED);
  static const bool started = StartDispatch();
  if (!started) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  std::lock_guard<std::mutex> hold(routinesLock);
  if (add) {
    routines.push_back(handlerRoutine);
    return TRUE;
  }
  for (auto it = routines.rbegin(); it != routines.rend(); ++it) {
    if (*it == handlerRoutine) {
      routines.erase(std::next(it).base());
      return TRUE;
    }
  }
  return FailWith(ERROR_INVALID_PARAMETER);
}
