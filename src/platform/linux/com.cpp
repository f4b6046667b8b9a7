#include <cstdlib>
#include <cwchar>

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
  swprintf(*text, kGuidTextLength + 1,
           L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", clsid.Data1,
           clsid.Data2, clsid.Data3, clsid.Data4[0], clsid.Data4[1], clsid.Data4[2],
           clsid.Data4[3], clsid.Data4[4], clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
  return 0;
}

void CoTaskMemFree(LPVOID memory) { free(memory); }
