// Threads, events, the waits on any handle and Sleep, over the C++ runtime's
// threads. A thread handle becomes signaled when its start routine returns;
// an event is manual- or auto-reset as asked. Named events and suspended
// threads are not needed by the program and are refused. Thread priorities
// are the thread's nice value. A named mutex is waited for in mutex.cpp.
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "last_error.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "waits.h"

namespace {
LinuxHandle* NewWaitable(HandleKind kind, bool manualReset, bool signaled) {
  auto* handle = new LinuxHandle();
  handle->kind = kind;
  handle->waitable = std::make_shared<Waitable>();
  handle->waitable->manualReset = manualReset;
  handle->waitable->signaled = signaled;
  return handle;
}

void Signal(Waitable& waitable) {
  std::lock_guard<std::mutex> hold(waitable.lock);
  waitable.signaled = true;
  waitable.changed.notify_all();
}

DWORD WaitForWaitable(LinuxHandle* handle, DWORD milliseconds) {
  Waitable& waitable = *handle->waitable;
  std::unique_lock<std::mutex> hold(waitable.lock);
  auto signaled = [&waitable] { return waitable.signaled; };
  if (milliseconds == INFINITE) {
    waitable.changed.wait(hold, signaled);
  } else if (!waitable.changed.wait_for(hold, std::chrono::milliseconds(milliseconds), signaled)) {
    return WAIT_TIMEOUT;
  }
  if (!waitable.manualReset) waitable.signaled = false;
  hold.unlock();
  // The thread has returned from its routine; reap it.
  if (handle->kind == HandleKind::kThread && handle->thread.joinable()) handle->thread.join();
  return WAIT_OBJECT_0;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
  (void)threadAttributes;
  (void)stackSize;  // the runtime's default stack serves every caller here
  if (startAddress == nullptr || creationFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  LinuxHandle* handle = NewWaitable(HandleKind::kThread, true, false);
  std::shared_ptr<Waitable> done = handle->waitable;
  try {
    handle->thread = std::thread([startAddress, parameter, done] {
      {
        std::lock_guard<std::mutex> hold(done->lock);
        done->threadId = gettid();
        done->changed.notify_all();
      }
      startAddress(parameter);
      Signal(*done);
    });
  } catch (const std::system_error&) {
    delete handle;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = 0;
  return handle;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES eventAttributes, BOOL manualReset,
                    BOOL initialState, LPCWSTR name) {
  (void)eventAttributes;
  if (name != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return NewWaitable(HandleKind::kEvent, manualReset != FALSE, initialState != FALSE);
}

BOOL SetEvent(HANDLE event) {
  LinuxHandle* handle = HandleOf(event, HandleKind::kEvent);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  Signal(*handle->waitable);
  return TRUE;
}

namespace {
// The nice value of each Windows thread priority: idle gets the least share,
// time-critical the most.
bool NiceOf(int priority, int* nice) {
  static const struct {
    int priority;
    int nice;
  } kNice[] = {{THREAD_PRIORITY_IDLE, 19},        {THREAD_PRIORITY_LOWEST, 10},
               {THREAD_PRIORITY_BELOW_NORMAL, 5}, {THREAD_PRIORITY_NORMAL, 0},
               {THREAD_PRIORITY_ABOVE_NORMAL, -5}, {THREAD_PRIORITY_HIGHEST, -10},
               {THREAD_PRIORITY_TIME_CRITICAL, -20}};
  for (const auto& entry : kNice) {
    if (entry.priority != priority) continue;
    *nice = entry.nice;
    return true;
  }
  return false;
}

bool HoldsCapability(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

// Whether a thread may have the nice value `nice` back once it has a higher
// one: RLIMIT_NICE allows values down to 20 minus its limit, CAP_SYS_NICE any.
bool MayRegainNice(int nice) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NICE, &limit) == 0 &&
      (limit.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(20 - nice) <= limit.rlim_cur))
    return true;
  return HoldsCapability(CAP_SYS_NICE);
}
}  // namespace

// Windows gives any thread its priority back; Linux gives a thread its nice
// value back only within RLIMIT_NICE or with CAP_SYS_NICE. A priority is
// therefore lowered only where it can be raised again (ERROR_PRIVILEGE_NOT_HELD
// otherwise), so that a thread is never left at a priority its owner cannot
// undo: a pool lowered for a while would otherwise stay at idle for good.
BOOL SetThreadPriority(HANDLE thread, int priority) {
  LinuxHandle* handle = HandleOf(thread, HandleKind::kThread);
  if (handle == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  int nice = 0;
  if (!NiceOf(priority, &nice)) return FailWith(ERROR_INVALID_PARAMETER);
  Waitable& waitable = *handle->waitable;
  std::unique_lock<std::mutex> hold(waitable.lock);
  waitable.changed.wait(hold, [&waitable] { return waitable.threadId != 0 || waitable.signaled; });
  // A thread that has returned has no priority left to change.
  if (waitable.signaled) return TRUE;
  const id_t id = static_cast<id_t>(waitable.threadId);
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, id);
  if (errno == 0 && nice > now && !MayRegainNice(now)) return FailWith(ERROR_PRIVILEGE_NOT_HELD);
  if (setpriority(PRIO_PROCESS, id, nice) != 0) return FailWith(Win32FromErrno(errno));
  return TRUE;
}

// A thread or an event waits here; a named mutex in mutex.cpp.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  if (object != nullptr && object != INVALID_HANDLE_VALUE) {
    auto* handle = static_cast<LinuxHandle*>(object);
    if (handle->kind == HandleKind::kThread || handle->kind == HandleKind::kEvent)
      return WaitForWaitable(handle, milliseconds);
  }
  LinuxHandle* mutex = HandleOf(object, HandleKind::kMutex);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WaitForMutex(mutex, milliseconds);
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

void Sleep(DWORD milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}
