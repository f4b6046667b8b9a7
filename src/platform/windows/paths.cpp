#include "platform.h"

const wchar_t kPathSeparator = L'\\';
