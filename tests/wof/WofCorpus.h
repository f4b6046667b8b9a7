/* The test files of compressed system files (see WofCorpus.c). */
#ifndef WOF_CORPUS_H
#define WOF_CORPUS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes SIZE bytes of KIND ("text", "random", "mixed", "sparse") to PATH,
 * the same bytes for the same KIND and SIZE. Returns 0, or exits on failure. */
int wof_generate(const char *kind, uint64_t size, const char *path);

/* Writes the compressed stream of file IN to OUT, chunks of ALGORITHM (0
 * XPRESS 4K, 1 LZX 32K, 2 XPRESS 8K, 3 XPRESS 16K). Returns 0, or non-zero. */
int wof_compress(int algorithm, const char *in, const char *out);

#ifdef __cplusplus
}
#endif

#endif
