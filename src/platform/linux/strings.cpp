#include <cstring>
#include <cwctype>

#include "support/runtime/text.h"
#include "win32_linux.h"

LPWSTR CharUpperW(LPWSTR text) {
  if (text == nullptr) return nullptr;
  for (wchar_t* at = text; *at != L'\0'; ++at)
    *at = static_cast<wchar_t>(towupper(static_cast<wint_t>(*at)));
  return text;
}

namespace {
// Hands out `count` units as Windows does: with no room given, the count the
// result needs; with too little, error 122 and nothing.
template <typename Unit>
int GiveOut(const Unit* result, size_t count, Unit* out, int outSize) {
  if (outSize == 0) return static_cast<int>(count);
  if (count > static_cast<size_t>(outSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, result, count * sizeof(Unit));
  return static_cast<int>(count);
}

// UTF-8 is the one code page the program converts to; a length of -1 takes
// the text up to and with its terminator.
bool ArgumentsValid(UINT codePage, DWORD flags, const void* text, int length, int outSize,
                    const void* out) {
  if (codePage != CP_UTF8 || text == nullptr || length == 0 || length < -1 || outSize < 0 ||
      (outSize > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (flags != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return false;
  }
  return true;
}
}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out,
                        int outSize, LPCSTR defaultChar, LPBOOL usedDefault) {
  if (!ArgumentsValid(codePage, flags, text, length, outSize, out)) return 0;
  if (defaultChar != nullptr || usedDefault != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);  // as Windows says for UTF-8
    return 0;
  }
  const size_t count = length == -1 ? wcslen(text) + 1 : static_cast<size_t>(length);
  const std::string bytes = ToUtf8Replacing(text, count);
  return GiveOut(bytes.data(), bytes.size(), out, outSize);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int outSize) {
  if (!ArgumentsValid(codePage, flags, text, length, outSize, out)) return 0;
  const size_t count = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  const std::wstring wide = FromUtf8Replacing(std::string(text, count));
  return GiveOut(wide.data(), wide.size(), out, outSize);
}
