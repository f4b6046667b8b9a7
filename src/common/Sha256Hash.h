#pragma once

#include <cstddef>
#include <cstdint>

#include "win32.h"

inline constexpr size_t kSha256Length = 32;

// SHA-256 from the system's cryptography library, one running hash that
// starts over after every Finish.
class Sha256Hash {
 public:
  Sha256Hash() = default;
  ~Sha256Hash();
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;

  // Opens the algorithm and the hash; a hash that is open stays as it is.
  // Returns: the system's status, 0 on success, as Add and Finish do.
  NTSTATUS Open();
  NTSTATUS Add(const uint8_t* data, size_t length);
  // Writes the digest of everything added since the last Finish.
  NTSTATUS Finish(uint8_t digest[kSha256Length]);

 private:
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};
