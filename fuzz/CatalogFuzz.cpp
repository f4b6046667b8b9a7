// Feeds arbitrary bytes to the catalog check as an image's catalog: the
// platform's decoding of the signed message, the reading of its list, the
// signers' certificates and signatures, and both kinds of lines.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "ffu/CatalogCheck.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The check's lines would only slow the run down.
  int quiet = open("/dev/null", O_WRONLY);
  if (quiet >= 0) {
    dup2(quiet, STDOUT_FILENO);
    close(quiet);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> table(64, 0x5A);
  CatalogCheck check;
  check.Run(std::vector<uint8_t>(data, data + size), table);
  check.PrintLines();
  check.PrintSummary();
  return 0;
}
