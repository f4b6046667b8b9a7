// Time conversions: a file time (100-nanosecond ticks since 1601-01-01 UTC)
// to its calendar parts, as the system gives them.
#include <ctime>

#include "last_error.h"

namespace {
constexpr unsigned long long kTicksPerSecond = 10000000ull;
constexpr long long kSecondsFrom1601To1970 = 11644473600ll;
}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
  if (fileTime == nullptr || systemTime == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  unsigned long long ticks =
      (static_cast<unsigned long long>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  // The system refuses file times of the top bit set.
  if (ticks >> 63) return FailWith(ERROR_INVALID_PARAMETER);
  std::time_t seconds = static_cast<std::time_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  systemTime->wYear = static_cast<WORD>(parts.tm_year + 1900);
  systemTime->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  systemTime->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  systemTime->wDay = static_cast<WORD>(parts.tm_mday);
  systemTime->wHour = static_cast<WORD>(parts.tm_hour);
  systemTime->wMinute = static_cast<WORD>(parts.tm_min);
  systemTime->wSecond = static_cast<WORD>(parts.tm_sec);
  systemTime->wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
  return TRUE;
}
