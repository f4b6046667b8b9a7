// A bounded reader of DER-encoded data (the binary form of ASN.1 that signed
// messages and certificate lists are written in). It copies and allocates
// nothing: an element is a view into the bytes read, and every length is
// checked against what is left before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Tags of the universal types the readers meet.
inline constexpr uint8_t kDerInteger = 0x02;
inline constexpr uint8_t kDerBitString = 0x03;
inline constexpr uint8_t kDerOctetString = 0x04;
inline constexpr uint8_t kDerNull = 0x05;
inline constexpr uint8_t kDerOid = 0x06;
inline constexpr uint8_t kDerUtcTime = 0x17;
inline constexpr uint8_t kDerGeneralizedTime = 0x18;
inline constexpr uint8_t kDerSequence = 0x30;
inline constexpr uint8_t kDerSet = 0x31;
// Context-specific, constructed [0] and [1].
inline constexpr uint8_t kDerContext0 = 0xA0;
inline constexpr uint8_t kDerContext1 = 0xA1;

// One element: its tag, its contents, and the whole encoding (tag and
// length included).
struct DerElement {
  uint8_t tag = 0;
  const uint8_t* contents = nullptr;
  size_t length = 0;
  const uint8_t* encoding = nullptr;
  size_t encodingLength = 0;

  bool Is(uint8_t wanted) const { return tag == wanted; }
  // Returns: true when the contents are exactly `bytes` (an object
  // identifier's encoded contents, say).
  template <size_t N>
  bool Equals(const uint8_t (&bytes)[N]) const {
    return length == N && std::memcmp(contents, bytes, N) == 0;
  }
};

class DerReader {
 public:
  DerReader(const uint8_t* data, size_t length) : at(data), end(data + length) {}
  // Reads the contents of a constructed element.
  explicit DerReader(const DerElement& element)
      : at(element.contents), end(element.contents + element.length) {}

  bool AtEnd() const { return at == end; }
  // Returns: true when the next element carries `tag`.
  bool NextIs(uint8_t tag) const { return at != end && *at == tag; }

  // Reads the next element. Tags of more than one byte, indefinite lengths,
  // lengths of more than four bytes or not in their shortest form, and
  // contents that run past the range are refused.
  // Returns: false, with nothing read, when the next element is not whole.
  bool Next(DerElement& element) {
    size_t left = static_cast<size_t>(end - at);
    if (left < 2 || (at[0] & 0x1F) == 0x1F) return false;
    size_t length = at[1];
    size_t header = 2;
    if (length & 0x80) {
      size_t count = length & 0x7F;
      if (count == 0 || count > 4 || left < 2 + count || at[2] == 0) return false;
      length = 0;
      for (size_t i = 0; i < count; ++i) length = (length << 8) | at[2 + i];
      if (length < 0x80) return false;
      header += count;
    }
    if (length > left - header) return false;
    element.tag = at[0];
    element.contents = at + header;
    element.length = length;
    element.encoding = at;
    element.encodingLength = header + length;
    at += header + length;
    return true;
  }

  // Reads the next element, which must carry `tag`.
  bool Next(uint8_t tag, DerElement& element) { return NextIs(tag) && Next(element); }

 private:
  const uint8_t* at;
  const uint8_t* end;
};
