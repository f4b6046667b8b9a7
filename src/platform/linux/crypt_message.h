// The object behind a message handle (crypt_messages.cpp), which the store
// of the message's certificates (certificates.cpp) reads too.
#pragma once

#include <openssl/asn1.h>

#include "support/formats/signed_message.h"
#include "win32_linux.h"

struct CryptMessage {
  uint32_t tag = 0x424D5347;  // "BMSG": tells our messages from stray pointers
  bool decoded = false;       // the final update was taken in whole
  SignedMessage message;
};

// Returns: the decoded message behind `handle`; nullptr, with the last error
// set, when it is none or not decoded yet.
CryptMessage* DecodedMessageOf(HCRYPTMSG handle);

// Returns: false when `time` is not a time; else true with `fileTime` set.
bool FileTimeOf(const ASN1_TIME* time, FILETIME& fileTime);
