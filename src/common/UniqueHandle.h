#pragma once

#include "win32.h"

// Owns one Win32 handle and closes it when it goes. Null and the invalid
// value both mean "no handle", as the calls that hand them out use either.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  HANDLE Get() const { return handle; }
  bool Valid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

  // Closes the handle held (if any) and takes `replacement`.
  void Reset(HANDLE replacement = nullptr) {
    if (Valid()) CloseHandle(handle);
    handle = replacement;
  }

  // Gives the handle up without closing it.
  // Returns: the handle held, now the caller's to close.
  HANDLE Release() {
    HANDLE released = handle;
    handle = nullptr;
    return released;
  }

 private:
  HANDLE handle = nullptr;
};
