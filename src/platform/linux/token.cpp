// The process token's privileges. Root's token holds the privilege to
// manage volumes (attach and detach disks), as an administrator's does;
// another user's does not hold it, and adjusting it changes nothing. Root's
// token is the elevated one.
#include <unistd.h>

#include <cwchar>

#include "last_error.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"

namespace {
// The system's locally unique id of SeManageVolumePrivilege.
constexpr DWORD kManageVolumeLuid = 28;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}  // namespace

HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
  if (process != kCurrentProcess) return FailWith(ERROR_INVALID_HANDLE);
  if (token == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  *token = NewHandle(HandleKind::kToken, -1, std::string());
  return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
  if (systemName != nullptr || name == nullptr || luid == nullptr)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (wcscmp(name, L"SeManageVolumePrivilege") != 0) return FailWith(ERROR_NO_SUCH_PRIVILEGE);
  *luid = LUID{kManageVolumeLuid, 0};
  return TRUE;
}

// Succeeds whether or not the token holds the privileges; the last error
// says ERROR_NOT_ALL_ASSIGNED when it does not.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL, PTOKEN_PRIVILEGES newState, DWORD,
                           PTOKEN_PRIVILEGES, LPDWORD returnLength) {
  if (HandleOf(token, HandleKind::kToken) == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (newState == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (returnLength != nullptr) *returnLength = 0;
  bool allHeld = true;
  for (DWORD i = 0; i < newState->PrivilegeCount && i < 1; ++i)
    allHeld = allHeld && newState->Privileges[i].Luid.LowPart == kManageVolumeLuid &&
              geteuid() == 0;
  SetLastError(allHeld ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                         LPVOID information, DWORD informationLength, LPDWORD returnLength) {
  if (HandleOf(token, HandleKind::kToken) == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (informationClass != TokenElevation || returnLength == nullptr)
    return FailWith(ERROR_INVALID_PARAMETER);
  *returnLength = sizeof(TOKEN_ELEVATION);
  if (information == nullptr || informationLength < sizeof(TOKEN_ELEVATION))
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = geteuid() == 0 ? 1 : 0;
  return TRUE;
}
