// Threads and events over the C++ runtime's threads. A thread handle becomes
// signaled when its start routine returns; an event is manual- or
// auto-reset as asked. Named events and suspended threads are not needed by
// the program and are refused.
#include <chrono>

#include "support/handle.h"

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
  LinuxHandle* handle = NewWaitable(HandleKind::Thread, true, false);
  std::shared_ptr<Waitable> done = handle->waitable;
  try {
    handle->thread = std::thread([startAddress, parameter, done] {
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
  return NewWaitable(HandleKind::Event, manualReset != FALSE, initialState != FALSE);
}

BOOL SetEvent(HANDLE event) {
  LinuxHandle* handle = HandleOf(event, HandleKind::Event);
  if (handle == nullptr) return FALSE;
  Signal(*handle->waitable);
  return TRUE;
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
  if (handle->kind == HandleKind::Thread && handle->thread.joinable()) handle->thread.join();
  return WAIT_OBJECT_0;
}
