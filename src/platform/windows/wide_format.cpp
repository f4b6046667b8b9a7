#include "wide_format.h"

#include <cwchar>

#include "platform.h"

namespace {
bool IsFlag(wchar_t c) {
  return c == L'-' || c == L'+' || c == L' ' || c == L'0' || c == L'#';
}

bool IsLengthModifier(wchar_t c) {
  return c == L'h' || c == L'l' || c == L'L' || c == L'I' || c == L'w' ||
         c == L'z' || c == L'j' || c == L't' || c == L'q';
}

bool IsDigitOrStar(wchar_t c) {
  return (c >= L'0' && c <= L'9') || c == L'*';
}

// Copies one conversion, starting just after its '%', and returns the
// position after it.
const wchar_t* CopyConversion(const wchar_t* p, std::wstring& out) {
  while (IsFlag(*p)) out += *p++;
  while (IsDigitOrStar(*p)) out += *p++;
  if (*p == L'.') {
    out += *p++;
    while (IsDigitOrStar(*p)) out += *p++;
  }
  bool hasLength = false;
  while (IsLengthModifier(*p)) {
    hasLength = true;
    // "I64" and "I32" carry digits after their letter.
    if (*p == L'I' && (wcsncmp(p + 1, L"64", 2) == 0 || wcsncmp(p + 1, L"32", 2) == 0)) {
      out.append(p, 3);
      p += 3;
      continue;
    }
    out += *p++;
  }
  if (*p == L'\0') return p;
  if (!hasLength && (*p == L's' || *p == L'c')) out += L'l';
  out += *p++;
  return p;
}

// The runtimes differ on a cut result: some return -1 and leave the text
// unterminated, the C99 one returns the length it would have needed. Both
// end here as a terminated, cut text and -1.
int FormatInto(wchar_t* buffer, size_t count, const std::wstring& format,
               va_list arguments) {
  int written = vswprintf(buffer, count, format.c_str(), arguments);
  if (written < 0 || static_cast<size_t>(written) >= count) {
    buffer[count - 1] = L'\0';
    return -1;
  }
  return written;
}
}  // namespace

std::wstring WithWideStrings(const wchar_t* format) {
  std::wstring out;
  if (format == nullptr) return out;
  out.reserve(wcslen(format) + 8);
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      out += *p++;
      continue;
    }
    out += *p++;
    if (*p == L'%') {
      out += *p++;
      continue;
    }
    p = CopyConversion(p, out);
  }
  return out;
}

int VFormatWideBounded(wchar_t* buffer, size_t count, const wchar_t* format,
                       va_list arguments) {
  if (buffer == nullptr || count == 0) return -1;
  return FormatInto(buffer, count, WithWideStrings(format), arguments);
}

std::wstring FormatWideText(const wchar_t* format, va_list arguments) {
  std::wstring wideFormat = WithWideStrings(format);
  std::wstring text(256, L'\0');
  for (;;) {
    va_list attempt;
    va_copy(attempt, arguments);
    int written = FormatInto(&text[0], text.size(), wideFormat, attempt);
    va_end(attempt);
    if (written >= 0) {
      text.resize(static_cast<size_t>(written));
      return text;
    }
    if (text.size() > kMaxFormattedLength) {
      text.resize(wcslen(text.c_str()));
      return text;
    }
    text.assign(text.size() * 2, L'\0');
  }
}
