#include "ffu/CatalogCheck.h"

#include <cstring>

#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// The content type of a certificate trust list.
constexpr char kTrustListType[] = "1.3.6.1.4.1.311.10.1";
constexpr size_t kLongestTypeText = 256;

// Holders that give the system's objects back.
struct Message {
  HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
  ~Message() {
    if (handle != nullptr) CryptMsgClose(handle);
  }
};
struct Store {
  HCERTSTORE handle = nullptr;
  ~Store() {
    if (handle != nullptr) CertCloseStore(handle, 0);
  }
};
struct Certificate {
  PCCERT_CONTEXT context = nullptr;
  ~Certificate() {
    if (context != nullptr) CertFreeCertificateContext(context);
  }
};

// Reads parameter `type` of the message whole.
bool GetParam(HCRYPTMSG message, DWORD type, DWORD index, std::vector<uint8_t>& data) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return false;
  data.assign(size, 0);
  return size == 0 || CryptMsgGetParam(message, type, index, data.data(), &size);
}

std::wstring NameOf(PCCERT_CONTEXT certificate, DWORD flags) {
  wchar_t name[256];
  CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(szOID_COMMON_NAME),
                     name, 256);
  return PrintableName(name);
}

bool ToSystemTime(const FILETIME& time, SYSTEMTIME& parts) {
  return FileTimeToSystemTime(&time, &parts) != FALSE;
}

// The signing time among the signer's signed attributes, where it has one.
void ReadSigningTime(HCRYPTMSG message, DWORD index, CatalogSigner& signer) {
  std::vector<uint8_t> data;
  if (!GetParam(message, CMSG_SIGNER_AUTH_ATTR_PARAM, index, data) ||
      data.size() < sizeof(CRYPT_ATTRIBUTES))
    return;
  const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(data.data());
  for (DWORD i = 0; i < attributes->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
    if (std::strcmp(attribute.pszObjId, szOID_RSA_signingTime) != 0 || attribute.cValue != 1)
      continue;
    FILETIME time{};
    DWORD size = sizeof(time);
    if (CryptDecodeObject(X509_ASN_ENCODING, szOID_RSA_signingTime, attribute.rgValue[0].pbData,
                          attribute.rgValue[0].cbData, 0, &time, &size))
      signer.hasSigningTime = ToSystemTime(time, signer.signingTime);
  }
}

// The signer's certificate from the message, its names and validity, and
// whether its signature over the content holds.
CatalogSigner ReadSigner(HCRYPTMSG message, HCERTSTORE store, DWORD index) {
  CatalogSigner signer;
  std::vector<uint8_t> id;
  Certificate certificate;
  if (store != nullptr && GetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, index, id) &&
      id.size() >= sizeof(CERT_INFO))
    certificate.context = CertGetSubjectCertificateFromStore(
        store, kEncoding, reinterpret_cast<PCERT_INFO>(id.data()));
  if (certificate.context == nullptr) {
    signer.state = CatalogSigner::kNoCertificate;
    return signer;
  }
  signer.subject = NameOf(certificate.context, 0);
  signer.issuer = NameOf(certificate.context, CERT_NAME_ISSUER_FLAG);
  ToSystemTime(certificate.context->pCertInfo->NotBefore, signer.validFrom);
  ToSystemTime(certificate.context->pCertInfo->NotAfter, signer.validTo);
  ReadSigningTime(message, index, signer);
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
  para.cbSize = sizeof(para);
  para.dwSignerIndex = index;
  para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  para.pvSigner = const_cast<CERT_CONTEXT*>(certificate.context);
  if (!CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para))
    signer.state = CatalogSigner::kBroken;
  return signer;
}

// The digest of `data` from the system's cryptography library.
bool Digest(LPCWSTR algorithmName, const std::vector<uint8_t>& data, std::vector<uint8_t>& out) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, algorithmName, nullptr, 0)))
    return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
              BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data.data()),
                                            static_cast<ULONG>(data.size()), 0)) &&
              BCRYPT_SUCCESS(BCryptFinishHash(hash, out.data(), static_cast<ULONG>(out.size()), 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return done;
}

const wchar_t* AlgorithmName(CatalogDigest algorithm) {
  return algorithm == CatalogDigest::kSha1 ? L"SHA-1" : L"SHA-256";
}

std::wstring TimeText(const SYSTEMTIME& time) {
  wchar_t text[40];
  FormatWide(text, 40, L"%04u-%02u-%02u %02u:%02u:%02u UTC", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
  return text;
}
}  // namespace

CatalogCheck::Verdict CatalogCheck::Run(const std::vector<uint8_t>& catalog,
                                        const std::vector<uint8_t>& hashTable) {
  verdict = kFailed;
  Message message;
  std::vector<uint8_t> type, content;
  if (catalog.empty() || message.handle == nullptr ||
      !CryptMsgUpdate(message.handle, catalog.data(), static_cast<DWORD>(catalog.size()), TRUE) ||
      !GetParam(message.handle, CMSG_INNER_CONTENT_TYPE_PARAM, 0, type)) {
    fault = L"it is not a signed message";
    return verdict;
  }
  type.push_back(0);
  contentType.assign(reinterpret_cast<const char*>(type.data()));
  if (contentType != kTrustListType) {
    if (contentType.size() > kLongestTypeText) contentType.resize(kLongestTypeText);
    fault = L"it holds no certificate trust list";
    return verdict;
  }
  if (!GetParam(message.handle, CMSG_CONTENT_PARAM, 0, content)) {
    fault = L"it is not a signed message";
    return verdict;
  }
  fault = ReadCatalogList(content.data(), content.size(), member);
  if (fault != nullptr) return verdict;
  ReadSigners(message.handle);
  if (!Compare(hashTable)) return verdict;
  for (const CatalogSigner& signer : signers)
    if (signer.state != CatalogSigner::kVerified) return verdict;
  verdict = signers.empty() ? kNotSigned : kVouched;
  return verdict;
}

void CatalogCheck::ReadSigners(HCRYPTMSG message) {
  std::vector<uint8_t> count;
  if (!GetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, count) || count.size() != sizeof(DWORD))
    return;
  DWORD signerCount = 0;
  std::memcpy(&signerCount, count.data(), sizeof(DWORD));
  if (signerCount == 0) return;
  Store store;
  store.handle = CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message);
  for (DWORD i = 0; i < signerCount; ++i) signers.push_back(ReadSigner(message, store.handle, i));
}

bool CatalogCheck::Compare(const std::vector<uint8_t>& hashTable) {
  bool sha1 = member.algorithm == CatalogDigest::kSha1;
  std::vector<uint8_t> digest(sha1 ? 20 : 32);
  matches = Digest(sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM, hashTable, digest) &&
            digest == member.digest;
  return matches;
}

void CatalogCheck::PrintLines() const {
  if (fault != nullptr) {
    if (contentType.empty() || contentType == kTrustListType)
      PrintWarningLine(L"The catalog cannot be read: %s.\n", fault);
    else
      PrintWarningLine(L"The catalog cannot be read: %s (its content type is %s).\n", fault,
                       PrintableName(std::wstring(contentType.begin(), contentType.end())).c_str());
    return;
  }
  if (signers.empty()) PrintProgramLine(L"The catalog is not signed.\n");
  for (size_t i = 0; i < signers.size(); ++i) {
    const CatalogSigner& signer = signers[i];
    if (signer.state == CatalogSigner::kNoCertificate) {
      PrintWarningLine(
          L"The catalog holds no certificate of its signer %u; its signature "
          L"cannot be verified.\n",
          static_cast<unsigned>(i + 1));
      continue;
    }
    std::wstring when = signer.hasSigningTime ? L" on " + TimeText(signer.signingTime) : L"";
    PrintProgramLine(
        L"The catalog was signed by '%s' (issued by '%s')%s, with a certificate "
        L"valid from %s to %s.\n",
        signer.subject.c_str(), signer.issuer.c_str(), when.c_str(),
        TimeText(signer.validFrom).c_str(), TimeText(signer.validTo).c_str());
    if (signer.state == CatalogSigner::kBroken)
      PrintWarningLine(L"The signature of '%s' over the catalog does not verify.\n",
                       signer.subject.c_str());
  }
  if (!matches)
    PrintWarningLine(
        L"The hash table does not match the catalog (%s): the image was changed "
        L"after its catalog was made.\n",
        AlgorithmName(member.algorithm));
  else if (!signers.empty())
    PrintProgramLine(L"The hash table matches the catalog (%s).\n",
                     AlgorithmName(member.algorithm));
}

void CatalogCheck::PrintSummary() const {
  if (fault != nullptr) {
    PrintWide(L"Catalog         : cannot be read: %s\n", fault);
    return;
  }
  std::wstring names;
  for (const CatalogSigner& signer : signers) {
    if (!names.empty()) names += L", ";
    names += signer.state == CatalogSigner::kNoCertificate
                 ? L"a signer without its certificate"
                 : L"'" + signer.subject + L"' (issued by '" + signer.issuer + L"')";
  }
  if (signers.empty())
    PrintWide(L"Catalog         : not signed, member digest %s\n", AlgorithmName(member.algorithm));
  else
    PrintWide(L"Catalog         : signed by %s, member digest %s\n", names.c_str(),
              AlgorithmName(member.algorithm));
}

CatalogCheck::Verdict CheckImageCatalog(const FfuImage& image) {
  CatalogCheck check;
  check.Run(image.GetCatalog(), image.GetHashTable());
  check.PrintLines();
  return check.GetVerdict();
}
