#include "volumes/VolumePrivilege.h"

#include "common/UniqueHandle.h"
#include "platform.h"

namespace {
// The name of SE_MANAGE_VOLUME_NAME, wide on both builds.
constexpr wchar_t kManageVolumePrivilege[] = L"SeManageVolumePrivilege";
}  // namespace

bool EnableVolumePrivilege() {
  KeptLastError keep;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;
  UniqueHandle ownedToken(token);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, kManageVolumePrivilege, &privileges.Privileges[0].Luid))
    return false;
  // Succeeds also when the token does not hold the privilege: the last
  // error then says that nothing was assigned.
  SetLastError(ERROR_SUCCESS);
  if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) return false;
  return GetLastError() == ERROR_SUCCESS;
}
