#include <cstdlib>
#include <cwchar>

#include "support/gpt.h"
#include "win32_linux.h"

namespace {
constexpr HRESULT kOutOfMemory = static_cast<int32_t>(0x8007000E);
constexpr HRESULT kInvalidArgument = static_cast<int32_t>(0x80070057);
constexpr size_t kGuidTextLength = 38;
}  // namespace

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (text == nullptr) return kInvalidArgument;
  *text = static_cast<wchar_t*>(malloc((kGuidTextLength + 1) * sizeof(wchar_t)));
  if (*text == nullptr) return kOutOfMemory;
  const std::wstring guid = GuidText(clsid);
  wcsncpy(*text, guid.c_str(), kGuidTextLength + 1);
  return 0;
}

void CoTaskMemFree(LPVOID memory) { free(memory); }
