// Errno values mapped onto Win32 codes (support/runtime/errors.cpp).
#include <gtest/gtest.h>

#include <cerrno>

#include "linux/support/runtime/errors.h"
#include "platform.h"

namespace {
struct ErrnoCase {
  int error;
  DWORD code;
};

TEST(ErrorsTest, ErrnoMapsOntoWin32Codes) {
  const ErrnoCase cases[] = {
      {ENOENT, 2},  {ENOTDIR, 3},     {EMFILE, 4},         {EACCES, 5},   {EPERM, 5},
      {EBADF, 6},   {ENOMEM, 8},      {EROFS, 19},         {EIO, 1117},   {EBUSY, 32},
      {EEXIST, 183}, {EINVAL, 87},    {ENOSPC, 112},       {ENAMETOOLONG, 206},
      {ENOTEMPTY, 145}, {ENXIO, 433}, {ENODEV, 433},       {ETIMEDOUT, 1460},
      {ENOTSUP, 50}, {EXDEV, 31},     {0, 0},
  };
  for (const ErrnoCase& test : cases) {
    SetLastError(12345);
    EXPECT_EQ(Win32FromErrno(test.error), test.code) << "errno " << test.error;
    EXPECT_EQ(GetLastError(), 12345u);  // a helper never touches the last error
  }
}
}  // namespace
