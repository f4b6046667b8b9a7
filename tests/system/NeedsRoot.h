// The system tests attach loop devices and mount volumes, which only root may.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

// Skips the running test, saying why, when the process is not root.
#define SKIP_UNLESS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "not run as root: loop devices and mounts need root"
