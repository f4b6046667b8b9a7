// Closing handles of every kind (handles.cpp).
#include <gtest/gtest.h>

#include "platform.h"

namespace {
TEST(HandlesTest, AnInvalidHandleIsNotClosed) { EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE)); }
}  // namespace
