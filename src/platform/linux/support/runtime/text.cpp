#include "text.h"

#include <cstdint>
#include <cwchar>

// File names on Linux are bytes, not necessarily valid UTF-8. A byte that
// does not start a valid sequence becomes the code point 0xDC00 + byte (a lone
// low surrogate, which valid text never holds), and ToUtf8 turns such code
// points back into the same byte, so every name survives the round trip.

namespace {
constexpr wchar_t kEscapeBase = 0xDC00;
constexpr wchar_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// `escapes`: a code point 0xDC80-0xDCFF stands for the raw byte it escapes.
void AppendCode(std::string& out, uint32_t code, bool escapes) {
  if (escapes && code >= 0xDC80 && code <= 0xDCFF) {
    out += static_cast<char>(code - kEscapeBase);  // an escaped raw byte
  } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    AppendUtf8(out, kReplacement);
  } else {
    AppendUtf8(out, code);
  }
}

// Length of the valid sequence at `text[at]`, or 0 when it is not valid.
size_t SequenceLength(const std::string& text, size_t at, uint32_t& code) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string Encode(const wchar_t* text, size_t length, bool escapes) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) AppendCode(out, static_cast<uint32_t>(text[i]), escapes);
  return out;
}

std::wstring Decode(const std::string& text, bool escapes) {
  std::wstring out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    uint32_t code = 0;
    const size_t length = SequenceLength(text, at, code);
    if (length == 0) {
      out += escapes ? static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(text[at]))
                     : kReplacement;
      ++at;
    } else {
      out += static_cast<wchar_t>(code);
      at += length;
    }
  }
  return out;
}
}  // namespace

std::string ToUtf8(const wchar_t* text) {
  return text == nullptr ? std::string() : Encode(text, wcslen(text), true);
}

std::string ToUtf8(const std::wstring& text) { return Encode(text.data(), text.size(), true); }

std::wstring FromUtf8(const std::string& text) { return Decode(text, true); }

std::string ToUtf8Replacing(const wchar_t* text, size_t length) {
  return Encode(text, length, false);
}

std::wstring FromUtf8Replacing(const std::string& text) { return Decode(text, false); }
