#include "common/ReportWin32Error.h"

#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "platform.h"

namespace {
constexpr size_t kErrorBufferSize = 520;
constexpr DWORD kSystemMessageFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM;

// The system's text of `code` with its line end, or a line that names the
// code when the system has none.
std::wstring MessageText(uint32_t code) {
  wchar_t* systemText = nullptr;
  DWORD length = FormatMessageW(kSystemMessageFlags, nullptr, code,
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
  std::wstring text;
  if (length != 0 && systemText != nullptr) text.assign(systemText, length);
  if (systemText != nullptr) LocalFree(systemText);
  if (!text.empty()) return text;
  wchar_t fallback[64];
  FormatWide(fallback, 64, L"Unknown error (%u).\r\n", code);
  return fallback;
}
}  // namespace

uint32_t ReportWin32Error(uint32_t code, const wchar_t* path) {
  wchar_t buffer[kErrorBufferSize] = {};
  if (code == 0) code = GetLastError();
  // Every caller reports a failure; one whose call left no error code must
  // still fail, so it is reported as a general failure rather than as 0.
  if (code == 0) code = ERROR_GEN_FAILURE;
  const std::wstring text = MessageText(code);
  if (path != nullptr)
    FormatWide(buffer, kErrorBufferSize, L"%s%s\"%s\"\n", kErrorPrefix, text.c_str(),
               PrintableName(path).c_str());
  else
    FormatWide(buffer, kErrorBufferSize, L"%s%s\n", kErrorPrefix, text.c_str());
  PrintWideText(buffer);
  return code;
}

std::wstring SystemErrorText(uint32_t code) {
  std::wstring text = MessageText(code);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return text;
}
