// A signed message (PKCS #7 SignedData in its ContentInfo) taken apart,
// bounded: every part is a view into the message's own bytes, checked
// against them before it is used. Nothing is verified here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/DerReader.h"
#include "win32_types.h"

struct SignerRecord {
  DerElement issuer;           // the certificate's issuer name, whole
  DerElement serial;           // its serial number (an INTEGER)
  DerElement digestAlgorithm;  // object identifier
  bool hasSignedAttributes = false;
  DerElement signedAttributes;  // [0], whole
  DerElement signature;         // the signature's bytes
};

struct SignedMessage {
  std::vector<uint8_t> bytes;  // the message; every element below lies in it
  DerElement contentType;      // object identifier of the signed content
  bool hasContent = false;
  // The content as the message gives it out: the octets of an octet
  // string, else the inner content's whole encoding.
  DerElement content;
  const uint8_t* digested = nullptr;  // the bytes the signers' digest covers
  size_t digestedLength = 0;
  std::vector<DerElement> certificates;  // whole encodings
  std::vector<SignerRecord> signers;
};

// Takes `message.bytes` apart. Bytes after the message are ignored.
// Returns: 0, or CRYPT_E_ASN1_BADTAG, CRYPT_E_ASN1_EOD, CRYPT_E_ASN1_CORRUPT
// for a message that is not whole, and CRYPT_E_INVALID_MSG_TYPE for one
// that is not a signed message.
DWORD ParseSignedMessage(SignedMessage& message);

// Returns: an object identifier's dotted text ("1.2.840.113549.1.7.2"); empty
// for one that is malformed.
std::string ObjectIdText(const DerElement& oid);
// Returns: the element's contents as they are.
std::vector<uint8_t> ContentsOf(const DerElement& element);
