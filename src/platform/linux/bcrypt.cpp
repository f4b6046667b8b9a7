// The hash calls of the system's cryptography library, over libcrypto's
// message digests (which use the CPU's SHA instructions where it has them).
// As strict as the system: a hash handle that was finished without the
// reusable flag takes no more data, the output size must be the digest's
// exactly, and only the algorithms named here, in the default
// implementation, are known.
#include <openssl/evp.h>

#include <cstring>
#include <cwchar>

#include "win32_linux.h"

namespace {
// Tells our objects apart from stray pointers and from each other.
constexpr uint32_t kAlgorithmTag = 0x42414C47;  // "BALG"
constexpr uint32_t kHashTag = 0x42485348;       // "BHSH"
// What the object length property reports. The caller's object buffer is
// accepted when it is at least this large; the state itself lives here.
constexpr ULONG kHashObjectLength = 128;

struct Algorithm {
  uint32_t tag = kAlgorithmTag;
  const EVP_MD* digest = nullptr;
  ULONG flags = 0;
};

struct Hash {
  uint32_t tag = kHashTag;
  Algorithm* algorithm = nullptr;
  EVP_MD_CTX* context = nullptr;
  bool reusable = false;
  bool finished = false;
};

const EVP_MD* DigestNamed(LPCWSTR name) {
  if (std::wcscmp(name, BCRYPT_SHA256_ALGORITHM) == 0) return EVP_sha256();
  if (std::wcscmp(name, BCRYPT_SHA1_ALGORITHM) == 0) return EVP_sha1();
  return nullptr;
}

Algorithm* AlgorithmOf(BCRYPT_HANDLE handle) {
  auto* algorithm = static_cast<Algorithm*>(handle);
  return algorithm != nullptr && algorithm->tag == kAlgorithmTag ? algorithm : nullptr;
}

Hash* HashOf(BCRYPT_HANDLE handle) {
  auto* hash = static_cast<Hash*>(handle);
  return hash != nullptr && hash->tag == kHashTag ? hash : nullptr;
}

NTSTATUS PutDword(DWORD value, PUCHAR output, ULONG outputSize, ULONG* result) {
  *result = sizeof(DWORD);
  if (output == nullptr) return STATUS_SUCCESS;
  if (outputSize < sizeof(DWORD)) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(output, &value, sizeof(value));
  return STATUS_SUCCESS;
}
}  // namespace

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                                     LPCWSTR implementation, ULONG flags) {
  if (algorithm == nullptr || algorithmId == nullptr) return STATUS_INVALID_PARAMETER;
  if ((flags & ~static_cast<ULONG>(BCRYPT_HASH_REUSABLE_FLAG)) != 0)
    return STATUS_INVALID_PARAMETER;
  const EVP_MD* digest = DigestNamed(algorithmId);
  if (digest == nullptr) return STATUS_NOT_FOUND;
  // Only the default implementation is offered.
  if (implementation != nullptr) return STATUS_NOT_FOUND;
  auto* opened = new Algorithm();
  opened->digest = digest;
  opened->flags = flags;
  *algorithm = opened;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  Algorithm* opened = AlgorithmOf(algorithm);
  if (opened == nullptr) return STATUS_INVALID_HANDLE;
  if (flags != 0) return STATUS_INVALID_PARAMETER;
  opened->tag = 0;
  delete opened;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG outputSize, ULONG* result, ULONG flags) {
  Algorithm* algorithm = AlgorithmOf(object);
  if (algorithm == nullptr) {
    Hash* hash = HashOf(object);
    if (hash == nullptr) return STATUS_INVALID_HANDLE;
    algorithm = hash->algorithm;
  }
  if (property == nullptr || result == nullptr || flags != 0) return STATUS_INVALID_PARAMETER;
  if (std::wcscmp(property, BCRYPT_HASH_LENGTH) == 0)
    return PutDword(static_cast<DWORD>(EVP_MD_get_size(algorithm->digest)), output, outputSize,
                    result);
  if (std::wcscmp(property, BCRYPT_OBJECT_LENGTH) == 0)
    return PutDword(kHashObjectLength, output, outputSize, result);
  return STATUS_NOT_SUPPORTED;
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                          ULONG secretSize, ULONG flags) {
  Algorithm* opened = AlgorithmOf(algorithm);
  if (opened == nullptr) return STATUS_INVALID_HANDLE;
  if (hash == nullptr || (flags & ~static_cast<ULONG>(BCRYPT_HASH_REUSABLE_FLAG)) != 0)
    return STATUS_INVALID_PARAMETER;
  // Keys belong to message authentication, which this layer does not offer.
  if (secret != nullptr || secretSize != 0) return STATUS_INVALID_PARAMETER;
  if (hashObject != nullptr && hashObjectSize < kHashObjectLength) return STATUS_BUFFER_TOO_SMALL;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr) return STATUS_NO_MEMORY;
  if (EVP_DigestInit_ex(context, opened->digest, nullptr) != 1) {
    EVP_MD_CTX_free(context);
    return STATUS_NO_MEMORY;
  }
  auto* created = new Hash();
  created->algorithm = opened;
  created->context = context;
  created->reusable = ((flags | opened->flags) & BCRYPT_HASH_REUSABLE_FLAG) != 0;
  *hash = created;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags) {
  Hash* open = HashOf(hash);
  if (open == nullptr || open->finished) return STATUS_INVALID_HANDLE;
  if ((input == nullptr && inputSize != 0) || flags != 0) return STATUS_INVALID_PARAMETER;
  if (inputSize != 0 && EVP_DigestUpdate(open->context, input, inputSize) != 1)
    return STATUS_INVALID_PARAMETER;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize,
                          ULONG flags) {
  Hash* open = HashOf(hash);
  if (open == nullptr || open->finished) return STATUS_INVALID_HANDLE;
  if (output == nullptr || flags != 0 ||
      outputSize != static_cast<ULONG>(EVP_MD_get_size(open->algorithm->digest)))
    return STATUS_INVALID_PARAMETER;
  if (EVP_DigestFinal_ex(open->context, output, nullptr) != 1) return STATUS_INVALID_PARAMETER;
  // A reusable hash starts over at once; any other takes nothing more.
  if (open->reusable)
    EVP_DigestInit_ex(open->context, open->algorithm->digest, nullptr);
  else
    open->finished = true;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
  Hash* open = HashOf(hash);
  if (open == nullptr) return STATUS_INVALID_HANDLE;
  EVP_MD_CTX_free(open->context);
  open->tag = 0;
  delete open;
  return STATUS_SUCCESS;
}
