// The catalog's DER, written out by hand so that every part of it is the
// one the reader expects (or, for its tests, one it must refuse); libcrypto
// gives the digests, the certificate's parts and the signature.
#include "CatalogWriter.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>

namespace {
using Bytes = std::vector<uint8_t>;

const Bytes kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kTrustListOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x01};
const Bytes kCatalogListOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x01};
const Bytes kCatalogMemberOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x02};
const Bytes kIndirectDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const Bytes kFileDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x19};
const Bytes kSha1Oid = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const Bytes kContentTypeOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03};
const Bytes kMessageDigestOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const Bytes kSigningTimeOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x05};

Bytes Der(uint8_t tag, const Bytes& contents) {
  Bytes out{tag};
  size_t length = contents.size();
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else {
    Bytes digits;
    for (; length != 0; length >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
  }
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Sequence(std::initializer_list<Bytes> parts) { return Der(0x30, Join(parts)); }
Bytes Oid(const Bytes& oid) { return Der(0x06, oid); }
Bytes Algorithm(const Bytes& oid) { return Sequence({Oid(oid), Bytes{0x05, 0x00}}); }
Bytes Octets(const Bytes& bytes) { return Der(0x04, bytes); }

// A SET OF, its elements in the order of their encodings.
Bytes SetOf(std::vector<Bytes> elements) {
  std::sort(elements.begin(), elements.end());
  Bytes contents;
  for (const Bytes& element : elements)
    contents.insert(contents.end(), element.begin(), element.end());
  return Der(0x31, contents);
}

Bytes UtcTime(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[16];
  std::strftime(text, sizeof(text), "%y%m%d%H%M%SZ", &parts);
  return Der(0x17, Bytes(text, text + 13));
}

Bytes Digest(const EVP_MD* digest, const uint8_t* data, size_t length) {
  Bytes out(EVP_MD_get_size(digest));
  EVP_Digest(data, length, out.data(), nullptr, digest, nullptr);
  return out;
}

// The member's identifier: its digest in hexadecimal, as UTF-16 text.
Bytes MemberId(const Bytes& digest) {
  Bytes id;
  for (uint8_t byte : digest)
    for (int shift : {4, 0})
      id.insert(id.end(), {static_cast<uint8_t>("0123456789ABCDEF"[(byte >> shift) & 15]), 0});
  return id;
}

Bytes TrustList(const CatalogOptions& options, const Bytes& tableDigest) {
  Bytes indirect =
      Sequence({Sequence({Oid(kFileDataOid)}),
                Sequence({Algorithm(options.sha1 ? kSha1Oid : kSha256Oid), Octets(tableDigest)})});
  Bytes member = Sequence({Octets(MemberId(tableDigest)),
                           SetOf({Sequence({Oid(kIndirectDataOid), SetOf({indirect})})})});
  Bytes members;
  if (options.damage == "two-members")
    members = Sequence({member, member});
  else if (options.damage != "no-member")
    members = Sequence({member});
  return Sequence({Sequence({Oid(kCatalogListOid)}), Octets(Bytes(16, 0x42)),
                   UtcTime(options.signingTime), Algorithm(kCatalogMemberOid), members});
}

struct Signer {
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  ~Signer() {
    X509_free(certificate);
    EVP_PKEY_free(key);
  }
};

bool LoadSigner(const CatalogOptions& options, Signer& signer, std::string* error) {
  std::FILE* file = std::fopen(options.certificatePath.c_str(), "r");
  if (file != nullptr) {
    signer.certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
  }
  file = std::fopen(options.keyPath.c_str(), "r");
  if (file != nullptr) {
    signer.key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
  }
  if (signer.certificate != nullptr && signer.key != nullptr) return true;
  *error =
      "cannot read the certificate " + options.certificatePath + " or its key " + options.keyPath;
  return false;
}

template <typename T, typename Encode>
Bytes Encoded(T* object, Encode encode) {
  unsigned char* bytes = nullptr;
  int length = encode(object, &bytes);
  Bytes out(bytes, bytes + std::max(length, 0));
  OPENSSL_free(bytes);
  return out;
}

// One signer over the content's contents octets: the signed attributes
// (content type, signing time, message digest), signed with SHA-256.
bool SignerInfo(const Signer& signer, const Bytes& contentType, const Bytes& digested,
                std::time_t signingTime, Bytes& info) {
  Bytes attributes =
      SetOf({Sequence({Oid(kContentTypeOid), SetOf({Oid(contentType)})}),
             Sequence({Oid(kSigningTimeOid), SetOf({UtcTime(signingTime)})}),
             Sequence({Oid(kMessageDigestOid),
                       SetOf({Octets(Digest(EVP_sha256(), digested.data(), digested.size()))})})});
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t length = 0;
  Bytes signature;
  bool signedOk =
      EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, signer.key) == 1 &&
      EVP_DigestSign(context, nullptr, &length, attributes.data(), attributes.size()) == 1;
  if (signedOk) {
    signature.resize(length);
    signedOk = EVP_DigestSign(context, signature.data(), &length, attributes.data(),
                              attributes.size()) == 1;
    signature.resize(length);
  }
  EVP_MD_CTX_free(context);
  if (!signedOk) return false;
  attributes[0] = 0xA0;  // [0] IMPLICIT in the signer info
  Bytes issuer = Encoded(X509_get_issuer_name(signer.certificate), i2d_X509_NAME);
  Bytes serial = Encoded(X509_get_serialNumber(signer.certificate), i2d_ASN1_INTEGER);
  info = Sequence({Der(0x02, {1}), Sequence({issuer, serial}), Algorithm(kSha256Oid), attributes,
                   Algorithm(kRsaOid), Octets(signature)});
  return true;
}
}  // namespace

int BuildCatalog(const CatalogOptions& options, const std::vector<uint8_t>& hashTable,
                 std::vector<uint8_t>& catalog, std::string* error) {
  const EVP_MD* memberDigest = options.sha1 ? EVP_sha1() : EVP_sha256();
  Bytes list = TrustList(options, Digest(memberDigest, hashTable.data(), hashTable.size()));
  // The signers digest the list's contents octets, without its tag and length.
  size_t headerLength = (list[1] & 0x80) != 0 ? 2 + (list[1] & 0x7F) : 2;
  Bytes digested(list.begin() + static_cast<long>(headerLength), list.end());
  Bytes contentType = options.damage == "other-content-type" ? kIndirectDataOid : kTrustListOid;
  Bytes certificates, signerInfos;
  if (!options.certificatePath.empty()) {
    Signer signer;
    if (!LoadSigner(options, signer, error)) return 1;
    Bytes info;
    if (!SignerInfo(signer, contentType, digested, options.signingTime, info)) {
      *error = "cannot sign the catalog with " + options.keyPath;
      return 1;
    }
    signerInfos = info;
    if (options.damage != "no-certificate")
      certificates = Der(0xA0, Encoded(signer.certificate, i2d_X509));
  }
  Bytes signedData = Sequence({Der(0x02, {1}), SetOf({Algorithm(kSha256Oid)}),
                               Sequence({Oid(contentType), Der(0xA0, list)}), certificates,
                               Der(0x31, signerInfos)});
  catalog = Sequence({Oid(kSignedDataOid), Der(0xA0, signedData)});
  return 0;
}
