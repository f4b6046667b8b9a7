// The certificate calls over libcrypto, for the store of a signed message's
// certificates: finding a signer's certificate by its issuer and serial
// number, and the names it carries. Each context handed out is a copy of
// its own, freed by CertFreeCertificateContext, so it outlives its store as
// on Windows.
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crypt_message.h"
#include "last_error.h"
#include "support/runtime/text.h"

namespace {
constexpr uint32_t kStoreTag = 0x42435354;  // "BCST"

struct CertificateStore {
  uint32_t tag = kStoreTag;
  std::vector<std::vector<uint8_t>> encodings;
};

// A context and everything its record points at.
struct Certificate {
  CERT_CONTEXT context{};  // first, so that the context's address is ours
  CERT_INFO info{};
  std::vector<uint8_t> encoded, serial, issuer, subject, key;
  std::string signatureAlgorithm, keyAlgorithm;
  X509* x509 = nullptr;
  ~Certificate() { X509_free(x509); }
};

std::vector<uint8_t> NameBytes(const X509_NAME* name) {
  unsigned char* bytes = nullptr;
  int length = i2d_X509_NAME(name, &bytes);
  std::vector<uint8_t> copy;
  if (length > 0) copy.assign(bytes, bytes + length);
  OPENSSL_free(bytes);
  return copy;
}

std::string ObjectText(const ASN1_OBJECT* object) {
  char text[128];
  int length = OBJ_obj2txt(text, sizeof(text), object, 1);
  return length > 0 && length < static_cast<int>(sizeof(text)) ? text : "";
}

// Fills the record the program reads: version, serial number (little
// endian, as the system keeps it), names, validity and the public key.
bool FillInfo(Certificate& certificate) {
  X509* x509 = certificate.x509;
  CERT_INFO& info = certificate.info;
  info.dwVersion = static_cast<DWORD>(X509_get_version(x509));
  // The serial number's encoded contents, its sign byte included.
  unsigned char* serial = nullptr;
  int serialLength = i2d_ASN1_INTEGER(X509_get0_serialNumber(x509), &serial);
  int header = serialLength > 2 ? 2 + ((serial[1] & 0x80) != 0 ? serial[1] & 0x7F : 0) : 0;
  if (serialLength > header) certificate.serial.assign(serial + header, serial + serialLength);
  OPENSSL_free(serial);
  std::reverse(certificate.serial.begin(), certificate.serial.end());
  certificate.issuer = NameBytes(X509_get_issuer_name(x509));
  certificate.subject = NameBytes(X509_get_subject_name(x509));
  const X509_ALGOR* algorithm = X509_get0_tbs_sigalg(x509);
  certificate.signatureAlgorithm = ObjectText(algorithm->algorithm);
  X509_PUBKEY* key = X509_get_X509_PUBKEY(x509);
  ASN1_OBJECT* keyAlgorithm = nullptr;
  const unsigned char* keyBytes = nullptr;
  int keyLength = 0;
  if (X509_PUBKEY_get0_param(&keyAlgorithm, &keyBytes, &keyLength, nullptr, key) != 1) return false;
  certificate.keyAlgorithm = ObjectText(keyAlgorithm);
  certificate.key.assign(keyBytes, keyBytes + keyLength);
  if (!FileTimeOf(X509_get0_notBefore(x509), info.NotBefore) ||
      !FileTimeOf(X509_get0_notAfter(x509), info.NotAfter))
    return false;
  info.SerialNumber = {static_cast<DWORD>(certificate.serial.size()), certificate.serial.data()};
  info.Issuer = {static_cast<DWORD>(certificate.issuer.size()), certificate.issuer.data()};
  info.Subject = {static_cast<DWORD>(certificate.subject.size()), certificate.subject.data()};
  info.SignatureAlgorithm.pszObjId = &certificate.signatureAlgorithm[0];
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = &certificate.keyAlgorithm[0];
  info.SubjectPublicKeyInfo.PublicKey = {static_cast<DWORD>(certificate.key.size()),
                                         certificate.key.data(), 0};
  return true;
}

// Returns: a new context of the certificate `encoded`; nullptr when it is
// not one.
Certificate* MakeCertificate(const std::vector<uint8_t>& encoded, HCERTSTORE store) {
  auto* certificate = new Certificate();
  certificate->encoded = encoded;
  const unsigned char* at = certificate->encoded.data();
  certificate->x509 = d2i_X509(nullptr, &at, static_cast<long>(encoded.size()));
  if (certificate->x509 == nullptr || !FillInfo(*certificate)) {
    delete certificate;
    return nullptr;
  }
  certificate->context = {X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate->encoded.data(),
                          static_cast<DWORD>(certificate->encoded.size()), &certificate->info,
                          store};
  return certificate;
}

bool SameBlob(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b) {
  return a.cbData == b.cbData && (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

// Serial numbers are the same when they differ in high-order zero bytes
// only (the last ones, little endian), as the system compares them.
bool SameInteger(CRYPT_INTEGER_BLOB a, CRYPT_INTEGER_BLOB b) {
  while (a.cbData > 1 && a.pbData[a.cbData - 1] == 0) --a.cbData;
  while (b.cbData > 1 && b.pbData[b.cbData - 1] == 0) --b.cbData;
  return SameBlob(a, b);
}
}  // namespace

HCERTSTORE CertOpenStore(LPCSTR storeProvider, DWORD encodingType, HCRYPTPROV_LEGACY, DWORD flags,
                         const void* para) {
  if (storeProvider != CERT_STORE_PROV_MSG || (encodingType & PKCS_7_ASN_ENCODING) == 0 ||
      flags != 0) {
    SetLastError(E_INVALIDARG);
    return nullptr;
  }
  CryptMessage* message = DecodedMessageOf(const_cast<void*>(para));
  if (message == nullptr) return nullptr;
  auto* store = new CertificateStore();
  for (const DerElement& certificate : message->message.certificates)
    store->encodings.emplace_back(certificate.encoding,
                                  certificate.encoding + certificate.encodingLength);
  return store;
}

BOOL CertCloseStore(HCERTSTORE handle, DWORD flags) {
  if (handle == nullptr) return TRUE;
  auto* store = static_cast<CertificateStore*>(handle);
  if (store->tag != kStoreTag || flags != 0) return FailWith(E_INVALIDARG);
  store->tag = 0;
  delete store;
  return TRUE;
}

PCCERT_CONTEXT CertGetSubjectCertificateFromStore(HCERTSTORE handle, DWORD encodingType,
                                                  PCERT_INFO certId) {
  auto* store = static_cast<CertificateStore*>(handle);
  if (store == nullptr || store->tag != kStoreTag || certId == nullptr ||
      (encodingType & X509_ASN_ENCODING) == 0) {
    SetLastError(E_INVALIDARG);
    return nullptr;
  }
  for (const std::vector<uint8_t>& encoded : store->encodings) {
    Certificate* certificate = MakeCertificate(encoded, handle);
    if (certificate != nullptr && SameBlob(certificate->info.Issuer, certId->Issuer) &&
        SameInteger(certificate->info.SerialNumber, certId->SerialNumber))
      return &certificate->context;
    delete certificate;
  }
  SetLastError(CRYPT_E_NOT_FOUND);
  return nullptr;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
  // The context is the first member of its certificate.
  delete reinterpret_cast<const Certificate*>(context);
  return TRUE;
}

DWORD CertGetNameStringW(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara,
                         LPWSTR name, DWORD nameSize) {
  std::wstring text;
  const auto* certificate = reinterpret_cast<const Certificate*>(context);
  // Only single attributes by their identifier; any other kind of name
  // comes back empty.
  if (certificate != nullptr && type == CERT_NAME_ATTR_TYPE && typePara != nullptr) {
    const X509_NAME* names = (flags & CERT_NAME_ISSUER_FLAG) != 0
                                 ? X509_get_issuer_name(certificate->x509)
                                 : X509_get_subject_name(certificate->x509);
    int nid = OBJ_txt2nid(static_cast<const char*>(typePara));
    int index = nid == NID_undef ? -1 : X509_NAME_get_index_by_NID(names, nid, -1);
    unsigned char* utf8 = nullptr;
    if (index >= 0 && ASN1_STRING_to_UTF8(
                          &utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(names, index))) >= 0)
      text = FromUtf8(reinterpret_cast<const char*>(utf8));
    OPENSSL_free(utf8);
  }
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (name == nullptr || nameSize == 0) return needed;
  DWORD copied = needed <= nameSize ? needed - 1 : nameSize - 1;
  std::wmemcpy(name, text.data(), copied);
  name[copied] = L'\0';
  return copied + 1;
}
