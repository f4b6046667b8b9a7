// The waits of WaitForSingleObject (threads.cpp) that live with their kind
// of handle elsewhere in the layer.
#pragma once

#include "support/runtime/handle.h"

// Takes the named mutex (mutex.cpp) within `milliseconds`; recursive for its
// holder. Returns: WAIT_OBJECT_0, WAIT_ABANDONED when its last holder ended
// without releasing it, WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
DWORD WaitForMutex(LinuxHandle* mutex, DWORD milliseconds);
