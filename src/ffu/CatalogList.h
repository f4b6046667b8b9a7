#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The digest algorithms a catalog's member may name for the hash table.
enum class CatalogDigest { kSha1, kSha256 };

// The one member of a catalog's certificate trust list: the digest of the
// hash table it vouches for.
struct CatalogMember {
  CatalogDigest algorithm = CatalogDigest::kSha256;
  std::vector<uint8_t> digest;
};

// Reads a certificate trust list (the signed content of the catalog, whole
// encoding): it must be a catalog list with exactly one member whose
// indirect data attribute holds a SHA-1 or SHA-256 digest. Every length is
// checked against `length` before it is used; only the digest is copied.
// Returns: nullptr with `member` filled; else why the list cannot be read,
// as the end of the sentence "The catalog cannot be read: ...".
const wchar_t* ReadCatalogList(const uint8_t* data, size_t length, CatalogMember& member);
