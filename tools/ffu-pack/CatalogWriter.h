#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// How the catalog is made: unsigned (as captured images carry it) unless a
// certificate and its key are given.
struct CatalogOptions {
  std::string certificatePath;  // PEM; with keyPath: the signer
  std::string keyPath;
  bool sha1 = false;  // the member's digest of the hash table
  std::time_t signingTime = 0;
  // A fault for the reader's tests; see kCatalogDamageNames.
  std::string damage;
};

// What --catalog-damage accepts: a list without a member or with two, a
// signed content that is no certificate trust list, a message without its
// signer's certificate.
constexpr const char* kCatalogDamageNames[] = {"no-member", "two-members", "other-content-type",
                                               "no-certificate"};

// Builds the catalog for `hashTable`: a signed message whose content is a
// certificate trust list of catalog members, with one member that carries
// the table's digest in its indirect data attribute. Its size depends on the
// table's only through nothing: the digest's length is fixed.
// Returns: 0, or 1 with a message in `error`.
int BuildCatalog(const CatalogOptions& options, const std::vector<uint8_t>& hashTable,
                 std::vector<uint8_t>& catalog, std::string* error);
