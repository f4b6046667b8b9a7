// The path constants of platform.h: one separator, no executable extension.
// The drive prefix is a device name, defined with the others in
// support/runtime/device_prefix.cpp.
#include "platform.h"

const wchar_t kPathSeparator = L'/';
const wchar_t kPathSeparators[] = L"/";
const wchar_t kExecutableExtension[] = L"";
const wchar_t kElevationAdvice[] = L"as root (with sudo)";
