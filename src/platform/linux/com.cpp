#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "apartment.h"
#include "support/runtime/random_id.h"
#include "win32_linux.h"

namespace {
constexpr HRESULT kInvalidArgument = static_cast<int32_t>(0x80070057);
constexpr DWORD kMultiThreaded = 0x0;

// Per thread, as COM apartments are: how often it was initialised and in
// which concurrency model.
thread_local int comInitializations = 0;
thread_local DWORD comModel = 0;
}  // namespace

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (reserved != nullptr) return kInvalidArgument;
  const DWORD model = coInit & COINIT_APARTMENTTHREADED ? COINIT_APARTMENTTHREADED : kMultiThreaded;
  if (comInitializations > 0 && model != comModel) return RPC_E_CHANGED_MODE;
  comModel = model;
  return ++comInitializations == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (comInitializations > 0) --comInitializations;
}

bool ComInitializedOnThisThread() { return comInitializations > 0; }

// A new identifier of the random-number version, as the system makes them.
HRESULT CoCreateGuid(GUID* guid) {
  if (guid == nullptr) return kInvalidArgument;
  const DiskGuid made = NewRandomGuid();
  memcpy(guid, &made, sizeof(*guid));
  return S_OK;
}
