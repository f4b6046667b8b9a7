#include "multi_string.h"

size_t MultiStringSize(const std::vector<std::wstring>& strings) {
  size_t size = 1;
  for (const std::wstring& text : strings) size += text.size() + 1;
  return size;
}

size_t StoreMultiString(const std::vector<std::wstring>& strings, wchar_t* target) {
  size_t at = 0;
  for (const std::wstring& text : strings) {
    text.copy(target + at, text.size());
    at += text.size();
    target[at++] = L'\0';
  }
  target[at++] = L'\0';
  return at;
}
