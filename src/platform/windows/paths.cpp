#include "platform.h"

const wchar_t kPathSeparator = L'\\';
const wchar_t kPathSeparators[] = L"\\/";
const wchar_t kExecutableExtension[] = L".exe";
const wchar_t kDrivePrefix[] = L"PhysicalDrive";
