#include "support/formats/signed_message.h"

namespace {
// 1.2.840.113549.1.7.2
constexpr uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

// The encapsulated content: its type and, when present, the content.
DWORD ReadContent(DerReader& data, SignedMessage& message) {
  DerElement info;
  if (!data.Next(kDerSequence, info)) return CRYPT_E_ASN1_BADTAG;
  DerReader reader(info);
  if (!reader.Next(kDerOid, message.contentType)) return CRYPT_E_ASN1_BADTAG;
  if (reader.AtEnd()) return 0;
  DerElement wrapper, inner;
  if (!reader.Next(kDerContext0, wrapper)) return CRYPT_E_ASN1_BADTAG;
  DerReader inside(wrapper);
  if (!inside.Next(inner) || !inside.AtEnd() || !reader.AtEnd()) return CRYPT_E_ASN1_CORRUPT;
  message.hasContent = true;
  // Only the contents octets are digested, also for content of another type.
  message.digested = inner.contents;
  message.digestedLength = inner.length;
  message.content = inner;
  if (inner.Is(kDerOctetString)) {
    message.content.encoding = inner.contents;
    message.content.encodingLength = inner.length;
  }
  return 0;
}

DWORD ReadSigner(const DerElement& element, SignerRecord& signer) {
  DerReader reader(element);
  DerElement version, id, algorithm, signatureAlgorithm;
  if (!reader.Next(kDerInteger, version) || !reader.Next(kDerSequence, id))
    return CRYPT_E_ASN1_BADTAG;
  DerReader idReader(id);
  if (!idReader.Next(kDerSequence, signer.issuer) || !idReader.Next(kDerInteger, signer.serial))
    return CRYPT_E_ASN1_BADTAG;
  if (!reader.Next(kDerSequence, algorithm)) return CRYPT_E_ASN1_BADTAG;
  DerReader algorithmReader(algorithm);
  if (!algorithmReader.Next(kDerOid, signer.digestAlgorithm)) return CRYPT_E_ASN1_BADTAG;
  if (reader.NextIs(kDerContext0)) {
    reader.Next(signer.signedAttributes);
    signer.hasSignedAttributes = true;
  }
  if (!reader.Next(kDerSequence, signatureAlgorithm) ||
      !reader.Next(kDerOctetString, signer.signature))
    return CRYPT_E_ASN1_BADTAG;
  return 0;
}

DWORD ReadSignedData(DerReader& data, SignedMessage& message) {
  DerElement version, algorithms, element;
  if (!data.Next(kDerInteger, version) || !data.Next(kDerSet, algorithms))
    return CRYPT_E_ASN1_BADTAG;
  DWORD result = ReadContent(data, message);
  if (result != 0) return result;
  if (data.NextIs(kDerContext0)) {
    DerElement certificates;
    data.Next(certificates);
    DerReader reader(certificates);
    while (!reader.AtEnd()) {
      if (!reader.Next(element)) return CRYPT_E_ASN1_EOD;
      message.certificates.push_back(element);
    }
  }
  if (data.NextIs(kDerContext1) && !data.Next(element)) return CRYPT_E_ASN1_EOD;
  DerElement signers;
  if (!data.Next(kDerSet, signers)) return CRYPT_E_ASN1_BADTAG;
  DerReader reader(signers);
  while (!reader.AtEnd()) {
    if (!reader.Next(kDerSequence, element)) return CRYPT_E_ASN1_BADTAG;
    SignerRecord signer;
    result = ReadSigner(element, signer);
    if (result != 0) return result;
    message.signers.push_back(signer);
  }
  return 0;
}
}  // namespace

DWORD ParseSignedMessage(SignedMessage& message) {
  DerReader whole(message.bytes.data(), message.bytes.size());
  DerElement info, type, wrapper, signedData;
  if (whole.AtEnd()) return CRYPT_E_ASN1_EOD;
  if (!whole.NextIs(kDerSequence)) return CRYPT_E_ASN1_BADTAG;
  if (!whole.Next(info)) return CRYPT_E_ASN1_EOD;
  DerReader reader(info);
  if (!reader.Next(kDerOid, type)) return CRYPT_E_ASN1_BADTAG;
  if (!type.Equals(kSignedDataOid)) return CRYPT_E_INVALID_MSG_TYPE;
  if (!reader.Next(kDerContext0, wrapper)) return CRYPT_E_ASN1_BADTAG;
  DerReader inside(wrapper);
  if (!inside.Next(kDerSequence, signedData)) return CRYPT_E_ASN1_BADTAG;
  DerReader data(signedData);
  return ReadSignedData(data, message);
}

std::string ObjectIdText(const DerElement& oid) {
  std::string text;
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < oid.length; ++i) {
    if (value > (UINT64_MAX >> 7)) return "";
    value = (value << 7) | (oid.contents[i] & 0x7F);
    if (oid.contents[i] & 0x80) continue;
    if (first) {
      uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      text = std::to_string(top) + "." + std::to_string(value - top * 40);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  if (oid.length == 0 || (oid.contents[oid.length - 1] & 0x80)) return "";
  return text;
}

std::vector<uint8_t> ContentsOf(const DerElement& element) {
  return std::vector<uint8_t>(element.contents, element.contents + element.length);
}
