#include "files/TextCoding.h"

#include <cwctype>

namespace {
void Put(std::string& out, uint32_t code) {
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
  if (sizeof(wchar_t) == 2)
    return Utf16ToUtf8(reinterpret_cast<const uint16_t*>(text.data()), text.size());
  std::string out;
  for (wchar_t c : text) Put(out, c < 0x110000 && (c < 0xD800 || c >= 0xE000) ? c : 0xFFFD);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::u16string wide = Utf8ToUtf16(text);
  if (sizeof(wchar_t) == 2) return std::wstring(wide.begin(), wide.end());
  std::wstring out;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t code = wide[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size()) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    out += static_cast<wchar_t>(code);
  }
  return out;
}
