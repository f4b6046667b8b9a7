// The COM state of the calling thread, as CoInitializeEx (com.cpp) leaves it;
// the shell asks it.
#pragma once

// Returns: true between a successful CoInitializeEx on this thread and its
// balancing CoUninitialize.
bool ComInitializedOnThisThread();
