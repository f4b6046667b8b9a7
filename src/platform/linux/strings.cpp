#include <cwctype>

#include "win32_linux.h"

LPWSTR CharUpperW(LPWSTR text) {
  if (text == nullptr) return nullptr;
  for (wchar_t* at = text; *at != L'\0'; ++at)
    *at = static_cast<wchar_t>(towupper(static_cast<wint_t>(*at)));
  return text;
}
