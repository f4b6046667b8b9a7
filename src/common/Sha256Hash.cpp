#include "common/Sha256Hash.h"

namespace {
// One call hashes at most this much, well inside the call's 32-bit length.
constexpr size_t kLargestPiece = 1u << 30;
}  // namespace

Sha256Hash::~Sha256Hash() {
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
}

NTSTATUS Sha256Hash::Open() {
  if (hash != nullptr) return 0;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) {
    algorithm = nullptr;
    return status;
  }
  DWORD length = 0;
  ULONG written = 0;
  status = BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                             sizeof(length), &written, 0);
  if (!BCRYPT_SUCCESS(status)) return status;
  if (length != kSha256Length) return static_cast<NTSTATUS>(0xC000000D);  // invalid parameter
  status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG);
  if (!BCRYPT_SUCCESS(status)) hash = nullptr;
  return status;
}

NTSTATUS Sha256Hash::Add(const uint8_t* data, size_t length) {
  while (length > 0) {
    size_t piece = length < kLargestPiece ? length : kLargestPiece;
    NTSTATUS status = BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(piece), 0);
    if (!BCRYPT_SUCCESS(status)) return status;
    data += piece;
    length -= piece;
  }
  return 0;
}

NTSTATUS Sha256Hash::Finish(uint8_t digest[kSha256Length]) {
  return BCryptFinishHash(hash, digest, kSha256Length, 0);
}
