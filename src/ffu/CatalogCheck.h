#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffu/CatalogList.h"
#include "win32.h"

class FfuImage;

// One signer of the catalog: who it is (from its certificate in the
// message) and whether its signature holds.
struct CatalogSigner {
  enum State { kVerified, kNoCertificate, kBroken };
  State state = kVerified;
  std::wstring subject;  // the common names of the certificate's subject
  std::wstring issuer;   // ... and of its issuer
  bool hasSigningTime = false;
  SYSTEMTIME signingTime{};
  SYSTEMTIME validFrom{};
  SYSTEMTIME validTo{};
};

// The check of the catalog against the hash table: the catalog is a signed
// message over a certificate trust list whose one member holds a digest of
// the hash table. It says whether the table is the one that was signed and
// who signed it, and that each signature holds; never whether the signer
// is to be trusted, which no file can tell.
class CatalogCheck {
 public:
  enum Verdict {
    kVouched,    // signed, every signature holds and the table matches
    kNotSigned,  // a catalog without signers whose digest matches the table
    kFailed,     // unreadable, the table differs, or a signature does not hold
  };

  Verdict Run(const std::vector<uint8_t>& catalog, const std::vector<uint8_t>& hashTable);
  Verdict GetVerdict() const { return verdict; }
  // Prints the check's lines: each signer and the match, or "The catalog
  // is not signed.", or a warning for each fault.
  void PrintLines() const;
  // Prints the listing's one line: signed or not, by whom, the digest.
  void PrintSummary() const;

 private:
  void ReadSigners(HCRYPTMSG message);
  bool Compare(const std::vector<uint8_t>& hashTable);

  Verdict verdict = kFailed;
  const wchar_t* fault = nullptr;  // why the catalog cannot be read
  std::string contentType;         // what the message holds instead of a list
  CatalogMember member;
  bool matches = false;
  std::vector<CatalogSigner> signers;
};

// The check of the image's catalog, with its lines printed.
// Returns: the verdict.
CatalogCheck::Verdict CheckImageCatalog(const FfuImage& image);
