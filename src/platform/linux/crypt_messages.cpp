// The cryptographic message calls for signed messages, decoded whole in one
// final update, with libcrypto's digests and signature checks. As strict as
// the system: a message that is not whole is refused at its update, a
// parameter asked for with too small a buffer answers ERROR_MORE_DATA and
// the size, and the calls this program does not make are not offered.
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>

#include "crypt_message.h"
#include "last_error.h"

namespace {
// 1.2.840.113549.1.9.4
constexpr uint8_t kMessageDigestOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
constexpr ULONGLONG kFileTimeOfUnixEpoch = 116444736000000000ull;

// Lays records and the bytes they point at out in the caller's buffer: a
// first pass without a buffer only counts.
class Packer {
 public:
  explicit Packer(uint8_t* base) : base(base) {}
  void* Take(size_t size) {
    used = (used + 7) & ~static_cast<size_t>(7);
    void* at = base != nullptr ? base + used : nullptr;
    used += size;
    return at;
  }
  BYTE* Copy(const void* data, size_t size) {
    auto* at = static_cast<BYTE*>(Take(size));
    if (at != nullptr && size != 0) std::memcpy(at, data, size);
    return at;
  }
  LPSTR Text(const std::string& text) {
    return reinterpret_cast<LPSTR>(Copy(text.c_str(), text.size() + 1));
  }
  size_t used = 0;

 private:
  uint8_t* base;
};

// Answers a parameter through the caller's buffer as the system does.
template <typename Fill>
BOOL Answer(void* data, DWORD* dataSize, Fill fill) {
  if (dataSize == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  Packer sizing(nullptr);
  fill(sizing);
  DWORD needed = static_cast<DWORD>(sizing.used);
  bool fits = data != nullptr && *dataSize >= needed;
  bool asked = data != nullptr;
  *dataSize = needed;
  if (!asked) return TRUE;
  if (!fits) return FailWith(ERROR_MORE_DATA);
  Packer packer(static_cast<uint8_t*>(data));
  fill(packer);
  return TRUE;
}

void PutBlob(Packer& packer, CRYPT_INTEGER_BLOB* blob, const std::vector<uint8_t>& bytes) {
  BYTE* at = packer.Copy(bytes.data(), bytes.size());
  if (blob == nullptr) return;
  blob->cbData = static_cast<DWORD>(bytes.size());
  blob->pbData = at;
}

// The signer's issuer and serial number, the serial in the system's
// little-endian order; everything else zero.
void FillSignerId(Packer& packer, const SignerRecord& signer) {
  auto* info = static_cast<CERT_INFO*>(packer.Take(sizeof(CERT_INFO)));
  if (info != nullptr) std::memset(info, 0, sizeof(CERT_INFO));
  std::vector<uint8_t> serial = ContentsOf(signer.serial);
  std::vector<uint8_t> reversed(serial.rbegin(), serial.rend());
  PutBlob(packer, info != nullptr ? &info->SerialNumber : nullptr, reversed);
  std::vector<uint8_t> issuer(signer.issuer.encoding,
                              signer.issuer.encoding + signer.issuer.encodingLength);
  PutBlob(packer, info != nullptr ? &info->Issuer : nullptr, issuer);
}

// The signed attributes: each with its identifier and its values' whole
// encodings.
void FillAttributes(Packer& packer, const DerElement& attributes) {
  auto* all = static_cast<CRYPT_ATTRIBUTES*>(packer.Take(sizeof(CRYPT_ATTRIBUTES)));
  DerReader counter(attributes);
  DerElement element;
  DWORD count = 0;
  while (counter.Next(element)) ++count;
  auto* list = static_cast<CRYPT_ATTRIBUTE*>(packer.Take(count * sizeof(CRYPT_ATTRIBUTE)));
  if (all != nullptr) *all = {count, list};
  DerReader reader(attributes);
  for (DWORD i = 0; i < count && reader.Next(element); ++i) {
    DerReader parts(element);
    DerElement oid, values, value;
    parts.Next(kDerOid, oid);
    parts.Next(kDerSet, values);
    DWORD valueCount = 0;
    for (DerReader counting(values); counting.Next(value);) ++valueCount;
    auto* blobs = static_cast<CRYPT_ATTR_BLOB*>(packer.Take(valueCount * sizeof(CRYPT_ATTR_BLOB)));
    LPSTR name = packer.Text(ObjectIdText(oid));
    if (list != nullptr) list[i] = {name, valueCount, blobs};
    DerReader valueReader(values);
    for (DWORD v = 0; v < valueCount && valueReader.Next(value); ++v) {
      std::vector<uint8_t> bytes(value.encoding, value.encoding + value.encodingLength);
      PutBlob(packer, blobs != nullptr ? &blobs[v] : nullptr, bytes);
    }
  }
}

// Every signed attribute must be a sequence of an identifier and a set.
bool AttributesWhole(const DerElement& attributes) {
  DerReader reader(attributes);
  DerElement element, oid, values;
  while (!reader.AtEnd()) {
    if (!reader.Next(kDerSequence, element)) return false;
    DerReader parts(element);
    if (!parts.Next(kDerOid, oid) || !parts.Next(kDerSet, values) || !parts.AtEnd()) return false;
    DerReader valueReader(values);
    DerElement value;
    while (!valueReader.AtEnd())
      if (!valueReader.Next(value)) return false;
  }
  return true;
}

const EVP_MD* DigestOf(const DerElement& oid) {
  const unsigned char* at = oid.encoding;
  ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &at, static_cast<long>(oid.encodingLength));
  if (object == nullptr) return nullptr;
  const EVP_MD* digest = EVP_get_digestbyobj(object);
  ASN1_OBJECT_free(object);
  return digest;
}

// The message digest attribute's value must be the content's digest.
DWORD CheckMessageDigest(const SignedMessage& message, const SignerRecord& signer,
                         const EVP_MD* digest) {
  unsigned char computed[EVP_MAX_MD_SIZE];
  unsigned int computedLength = 0;
  if (EVP_Digest(message.digested, message.digestedLength, computed, &computedLength, digest,
                 nullptr) != 1)
    return CRYPT_E_UNKNOWN_ALGO;
  DerReader reader(signer.signedAttributes);
  DerElement element, oid, values, value;
  while (reader.Next(element)) {
    DerReader parts(element);
    parts.Next(kDerOid, oid);
    parts.Next(kDerSet, values);
    if (!oid.Equals(kMessageDigestOid)) continue;
    DerReader valueReader(values);
    if (!valueReader.Next(kDerOctetString, value) || !valueReader.AtEnd())
      return CRYPT_E_HASH_VALUE;
    bool same = value.length == computedLength &&
                std::memcmp(value.contents, computed, computedLength) == 0;
    return same ? 0 : CRYPT_E_HASH_VALUE;
  }
  return CRYPT_E_ATTRIBUTES_MISSING;
}

// The signature over the signed attributes (as a SET, their DER form), or
// over the content where there are none, with the certificate's key.
DWORD CheckSignature(const SignedMessage& message, const SignerRecord& signer,
                     PCCERT_CONTEXT certificate) {
  const EVP_MD* digest = DigestOf(signer.digestAlgorithm);
  if (digest == nullptr) return CRYPT_E_UNKNOWN_ALGO;
  std::vector<uint8_t> signedBytes(message.digested, message.digested + message.digestedLength);
  if (signer.hasSignedAttributes) {
    if (!AttributesWhole(signer.signedAttributes)) return CRYPT_E_ASN1_CORRUPT;
    DWORD result = CheckMessageDigest(message, signer, digest);
    if (result != 0) return result;
    signedBytes.assign(signer.signedAttributes.encoding,
                       signer.signedAttributes.encoding + signer.signedAttributes.encodingLength);
    signedBytes[0] = kDerSet;
  }
  const unsigned char* at = certificate->pbCertEncoded;
  X509* x509 = d2i_X509(nullptr, &at, certificate->cbCertEncoded);
  if (x509 == nullptr) return CRYPT_E_ASN1_BADTAG;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool verified =
      context != nullptr &&
      EVP_DigestVerifyInit(context, nullptr, digest, nullptr, X509_get0_pubkey(x509)) == 1 &&
      EVP_DigestVerify(context, signer.signature.contents, signer.signature.length,
                       signedBytes.data(), signedBytes.size()) == 1;
  EVP_MD_CTX_free(context);
  X509_free(x509);
  return verified ? 0 : NTE_BAD_SIGNATURE;
}

bool IsSigningTime(LPCSTR structType) {
  return structType == PKCS_UTC_TIME || (reinterpret_cast<uintptr_t>(structType) > 0xFFFF &&
                                         std::strcmp(structType, szOID_RSA_signingTime) == 0);
}
}  // namespace

bool FileTimeOf(const ASN1_TIME* time, FILETIME& fileTime) {
  std::tm parts{};
  if (ASN1_TIME_to_tm(time, &parts) != 1) return false;
  // Unsigned arithmetic also carries times before 1970 right.
  ULONGLONG ticks = static_cast<ULONGLONG>(timegm(&parts)) * 10000000ull + kFileTimeOfUnixEpoch;
  fileTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  return true;
}

CryptMessage* DecodedMessageOf(HCRYPTMSG handle) {
  auto* message = static_cast<CryptMessage*>(handle);
  if (message == nullptr || message->tag != CryptMessage().tag) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!message->decoded) {
    SetLastError(CRYPT_E_INVALID_MSG_TYPE);
    return nullptr;
  }
  return message;
}

HCRYPTMSG CryptMsgOpenToDecode(DWORD encodingType, DWORD flags, DWORD msgType, HCRYPTPROV_LEGACY,
                               PCERT_INFO recipientInfo, CMSG_STREAM_INFO* streamInfo) {
  // Only whole signed messages, read at once, are decoded here.
  if ((encodingType & PKCS_7_ASN_ENCODING) == 0 || flags != 0 ||
      (msgType != 0 && msgType != CMSG_SIGNED) || recipientInfo != nullptr ||
      streamInfo != nullptr) {
    SetLastError(E_INVALIDARG);
    return nullptr;
  }
  return new CryptMessage();
}

BOOL CryptMsgUpdate(HCRYPTMSG handle, const BYTE* data, DWORD dataSize, BOOL final) {
  auto* message = static_cast<CryptMessage*>(handle);
  if (message == nullptr || message->tag != CryptMessage().tag)
    return FailWith(ERROR_INVALID_HANDLE);
  if (message->decoded || (data == nullptr && dataSize != 0)) return FailWith(E_INVALIDARG);
  message->message.bytes.insert(message->message.bytes.end(), data, data + dataSize);
  if (!final) return TRUE;
  DWORD result = ParseSignedMessage(message->message);
  if (result != 0) return FailWith(result);
  message->decoded = true;
  return TRUE;
}

BOOL CryptMsgGetParam(HCRYPTMSG handle, DWORD paramType, DWORD index, void* data, DWORD* dataSize) {
  CryptMessage* decoded = DecodedMessageOf(handle);
  if (decoded == nullptr) return FALSE;
  const SignedMessage& message = decoded->message;
  switch (paramType) {
    case CMSG_INNER_CONTENT_TYPE_PARAM:
      return Answer(data, dataSize,
                    [&](Packer& packer) { packer.Text(ObjectIdText(message.contentType)); });
    case CMSG_CONTENT_PARAM:
      return Answer(data, dataSize, [&](Packer& packer) {
        if (message.hasContent)
          packer.Copy(message.content.encoding, message.content.encodingLength);
      });
    case CMSG_SIGNER_COUNT_PARAM: {
      DWORD count = static_cast<DWORD>(message.signers.size());
      return Answer(data, dataSize, [&](Packer& packer) { packer.Copy(&count, sizeof(count)); });
    }
    default:
      break;
  }
  if (paramType != CMSG_SIGNER_CERT_INFO_PARAM && paramType != CMSG_SIGNER_AUTH_ATTR_PARAM)
    return FailWith(CRYPT_E_INVALID_MSG_TYPE);
  if (index >= message.signers.size()) return FailWith(CRYPT_E_INVALID_INDEX);
  const SignerRecord& signer = message.signers[index];
  if (paramType == CMSG_SIGNER_CERT_INFO_PARAM)
    return Answer(data, dataSize, [&](Packer& packer) { FillSignerId(packer, signer); });
  if (!signer.hasSignedAttributes) return FailWith(CRYPT_E_ATTRIBUTES_MISSING);
  if (!AttributesWhole(signer.signedAttributes)) return FailWith(CRYPT_E_ASN1_CORRUPT);
  return Answer(data, dataSize,
                [&](Packer& packer) { FillAttributes(packer, signer.signedAttributes); });
}

BOOL CryptMsgControl(HCRYPTMSG handle, DWORD flags, DWORD controlType, const void* controlPara) {
  CryptMessage* decoded = DecodedMessageOf(handle);
  if (decoded == nullptr) return FALSE;
  const auto* para = static_cast<const CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA*>(controlPara);
  if (flags != 0 || controlType != CMSG_CTRL_VERIFY_SIGNATURE_EX || para == nullptr ||
      para->cbSize < sizeof(*para) || para->dwSignerType != CMSG_VERIFY_SIGNER_CERT ||
      para->pvSigner == nullptr)
    return FailWith(E_INVALIDARG);
  const SignedMessage& message = decoded->message;
  if (para->dwSignerIndex >= message.signers.size()) return FailWith(CRYPT_E_INVALID_INDEX);
  if (!message.hasContent) return FailWith(CRYPT_E_HASH_VALUE);
  DWORD result = CheckSignature(message, message.signers[para->dwSignerIndex],
                                static_cast<PCCERT_CONTEXT>(para->pvSigner));
  return result == 0 ? TRUE : FailWith(result);
}

BOOL CryptMsgClose(HCRYPTMSG handle) {
  if (handle == nullptr) return TRUE;
  auto* message = static_cast<CryptMessage*>(handle);
  if (message->tag != CryptMessage().tag) return FailWith(ERROR_INVALID_HANDLE);
  message->tag = 0;
  delete message;
  return TRUE;
}

BOOL CryptDecodeObject(DWORD encodingType, LPCSTR structType, const BYTE* encoded,
                       DWORD encodedSize, DWORD flags, void* structInfo, DWORD* structInfoSize) {
  if ((encodingType & X509_ASN_ENCODING) == 0 || flags != 0 || structInfoSize == nullptr ||
      encoded == nullptr)
    return FailWith(E_INVALIDARG);
  if (!IsSigningTime(structType)) return FailWith(CRYPT_E_UNKNOWN_ALGO);
  const unsigned char* at = encoded;
  ASN1_TIME* time = d2i_ASN1_TIME(nullptr, &at, encodedSize);
  FILETIME value{};
  bool read = time != nullptr && FileTimeOf(time, value);
  ASN1_TIME_free(time);
  if (!read) return FailWith(CRYPT_E_ASN1_BADTAG);
  return Answer(structInfo, structInfoSize,
                [&](Packer& packer) { packer.Copy(&value, sizeof(value)); });
}
