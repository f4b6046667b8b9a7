// The unit tests' own entry point. It stands in for the program's wide entry,
// which the platform library provides, and lets a test start this binary
// again as a small console program (see ConsoleTest.cpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ConsoleScene.h"

int main(int argc, char** argv) {
  const char* scene = getenv(kConsoleSceneVariable);
  if (scene != nullptr && scene[0] != '\0') return RunConsoleScene(scene);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
