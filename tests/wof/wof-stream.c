/* Makes the test files of compressed system files without Windows.
 *
 *   wof-stream generate KIND SIZE OUT    writes SIZE bytes of KIND to OUT:
 *       text    compressible words
 *       random  bytes that do not compress
 *       mixed   chunks of text and of random bytes by turns (16 KiB each)
 *       sparse  zeros, with text at a few places (the start, every GiB,
 *               the end); only those places are written, the rest stays
 *               a hole
 *   wof-stream compress ALGORITHM IN OUT writes IN's compressed stream to
 *       OUT: ALGORITHM 0 XPRESS 4K chunks, 1 LZX 32K, 2 XPRESS 8K,
 *       3 XPRESS 16K; a table of chunk offsets (4 bytes each, 8 when IN is
 *       4 GiB or more; none for the first chunk), then each chunk on its
 *       own, kept whole where compressing does not make it smaller.
 *   wof-stream reparse ALGORITHM [PROVIDER]   prints the reparse point's
 *       bytes as a hex string (for setfattr)
 *
 * The compressors are wimlib's, independent of the reader under test. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "WofCorpus.h"

static int reparse(unsigned algorithm, unsigned provider) {
  uint32_t words[6] = {0x80000017u, 16, 1, provider, 1, algorithm};
  const uint8_t *bytes = (const uint8_t *)words;
  printf("0x");
  for (int i = 0; i < 24; i++) printf("%02x", bytes[i]);
  printf("\n");
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "generate") == 0)
    return wof_generate(argv[2], strtoull(argv[3], NULL, 0), argv[4]);
  if (argc == 5 && strcmp(argv[1], "compress") == 0)
    return wof_compress(atoi(argv[2]), argv[3], argv[4]);
  if ((argc == 3 || argc == 4) && strcmp(argv[1], "reparse") == 0)
    return reparse((unsigned)strtoul(argv[2], NULL, 0),
                   argc == 4 ? (unsigned)strtoul(argv[3], NULL, 0) : 2);
  fprintf(stderr, "usage: wof-stream generate KIND SIZE OUT | compress ALGORITHM IN OUT | "
                  "reparse ALGORITHM [PROVIDER]\n");
  return 2;
}
