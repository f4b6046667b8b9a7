#include "files/TextCoding.h"

#include <cwctype>

#include "platform.h"

namespace {
// One code point in UTF-8: a lead byte that says how many bytes follow,
// then six bits in each of them.
void Put(std::string& out, uint32_t code) {
  static const uint8_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  int extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  out += static_cast<char>(kLead[extra] | (code >> (6 * extra)));
  for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
    out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}
}  // namespace

std::string Utf16ToUtf8(const uint16_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    Put(out, code);
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    uint8_t lead = static_cast<uint8_t>(text[i]);
    size_t extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 9;
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    bool good = extra != 9;
    for (size_t k = 1; good && k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80)
        good = false;
      else
        code = (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    if (!good) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::u16string FoldName(const std::string& name) {
  std::u16string wide = Utf8ToUtf16(name);
  for (char16_t& c : wide)
    if (c < 0xD800 || c >= 0xE000) c = static_cast<char16_t>(std::towupper(c));
  return wide;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &out[0], size);
  return out;
}
