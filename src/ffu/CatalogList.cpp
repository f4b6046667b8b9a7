#include "ffu/CatalogList.h"

#include "formats/DerReader.h"

namespace {
// 1.3.6.1.4.1.311.12.1.1: the list names catalog members.
constexpr uint8_t kCatalogListOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x01};
// 1.3.6.1.4.1.311.2.1.4: the attribute that carries a member's digest.
constexpr uint8_t kIndirectDataOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
// 1.3.14.3.2.26 and 2.16.840.1.101.3.4.2.1
constexpr uint8_t kSha1Oid[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr uint8_t kSha256Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

constexpr const wchar_t* kMalformed = L"its certificate trust list is malformed";

bool NamesCatalogList(const DerElement& usage) {
  DerReader reader(usage);
  DerElement oid;
  while (reader.Next(kDerOid, oid))
    if (oid.Equals(kCatalogListOid)) return true;
  return false;
}

bool NextTime(DerReader& reader) {
  DerElement time;
  return reader.Next(kDerUtcTime, time) || reader.Next(kDerGeneralizedTime, time);
}

// The indirect data: what the member is, then its digest info.
const wchar_t* ReadIndirectData(const DerElement& value, CatalogMember& member) {
  DerReader reader(value);
  DerElement data, digestInfo, algorithm, oid, digest;
  if (!reader.Next(kDerSequence, data) || !reader.Next(kDerSequence, digestInfo) || !reader.AtEnd())
    return kMalformed;
  DerReader info(digestInfo);
  if (!info.Next(kDerSequence, algorithm) || !info.Next(kDerOctetString, digest) || !info.AtEnd())
    return kMalformed;
  DerReader algorithmReader(algorithm);
  if (!algorithmReader.Next(kDerOid, oid)) return kMalformed;
  size_t expected = 0;
  if (oid.Equals(kSha1Oid)) {
    member.algorithm = CatalogDigest::kSha1;
    expected = 20;
  } else if (oid.Equals(kSha256Oid)) {
    member.algorithm = CatalogDigest::kSha256;
    expected = 32;
  } else {
    return L"its member's digest is neither SHA-1 nor SHA-256";
  }
  if (digest.length != expected) return L"its member's digest has the wrong length";
  member.digest.assign(digest.contents, digest.contents + digest.length);
  return nullptr;
}

// A member: its identifier, then its attributes, of which exactly one is
// the indirect data with one value.
const wchar_t* ReadMember(const DerElement& subject, CatalogMember& member) {
  DerReader reader(subject);
  DerElement identifier, attributes, attribute, oid, values, value;
  if (!reader.Next(kDerOctetString, identifier)) return kMalformed;
  if (reader.AtEnd()) return L"its member carries no digest of the hash table";
  if (!reader.Next(kDerSet, attributes) || !reader.AtEnd()) return kMalformed;
  DerReader attributeReader(attributes);
  int found = 0;
  while (!attributeReader.AtEnd()) {
    if (!attributeReader.Next(kDerSequence, attribute)) return kMalformed;
    DerReader parts(attribute);
    if (!parts.Next(kDerOid, oid) || !parts.Next(kDerSet, values) || !parts.AtEnd())
      return kMalformed;
    if (!oid.Equals(kIndirectDataOid)) continue;
    DerReader valueReader(values);
    if (++found > 1 || !valueReader.Next(kDerSequence, value) || !valueReader.AtEnd())
      return L"its member carries more than one digest";
  }
  if (found == 0) return L"its member carries no digest of the hash table";
  return ReadIndirectData(value, member);
}
}  // namespace

const wchar_t* ReadCatalogList(const uint8_t* data, size_t length, CatalogMember& member) {
  DerReader whole(data, length);
  DerElement list, element, subjects, subject;
  if (!whole.Next(kDerSequence, list) || !whole.AtEnd()) return kMalformed;
  DerReader reader(list);
  if (reader.NextIs(kDerInteger)) reader.Next(element);
  if (!reader.Next(kDerSequence, element)) return kMalformed;
  if (!NamesCatalogList(element)) return L"its certificate trust list is not a catalog list";
  if (reader.NextIs(kDerOctetString)) reader.Next(element);
  if (reader.NextIs(kDerInteger)) reader.Next(element);
  if (!NextTime(reader)) return kMalformed;
  NextTime(reader);
  if (!reader.Next(kDerSequence, element)) return kMalformed;
  bool hasSubjects = reader.Next(kDerSequence, subjects);
  if (reader.NextIs(kDerContext0)) reader.Next(element);
  if (!reader.AtEnd()) return kMalformed;
  if (!hasSubjects) return L"its list has no member";
  DerReader members(subjects);
  size_t count = 0;
  while (!members.AtEnd()) {
    if (!members.Next(kDerSequence, element)) return kMalformed;
    if (count++ == 0) subject = element;
  }
  if (count == 0) return L"its list has no member";
  if (count > 1) return L"its list has more than one member";
  return ReadMember(subject, member);
}
