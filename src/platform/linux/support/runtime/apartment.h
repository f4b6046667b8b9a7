// The COM state of the calling thread, as CoInitializeEx leaves it.
#pragma once

// Returns: true between a successful CoInitializeEx on this thread and its
// balancing CoUninitialize.
bool ComInitializedOnThisThread();
