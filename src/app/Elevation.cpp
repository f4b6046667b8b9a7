#include "app/Elevation.h"

#include "app/OptionRuns.h"
#include "common/ProgramLines.h"
#include "common/UniqueHandle.h"
#include "platform.h"

namespace {
// Returns: false only when the token says it is not elevated.
bool TokenMayBeElevated() {
  KeptLastError keep;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  UniqueHandle ownedToken(token);
  TOKEN_ELEVATION elevation{};
  DWORD length = 0;
  if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &length))
    return true;
  return elevation.TokenIsElevated != 0;
}
}  // namespace

int RefuseUnlessElevated() {
  if (TokenMayBeElevated()) return 0;
  PrintErrorLine(L"Attaching and detaching disks needs administrator rights: run Brackwen %s.\n",
                 kElevationAdvice);
  return kJobFailed;
}
