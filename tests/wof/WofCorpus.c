/* The test files of compressed system files, made without Windows: their
 * bytes and their compressed streams (wimlib's compressors, independent of
 * the reader under test). Used by the wof-stream command and the unit tests. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <wimlib.h>

#include "WofCorpus.h"

static void die(const char *what) {
  perror(what);
  exit(1);
}

static uint64_t state;
static uint64_t next_random(void) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

static void fill_text(uint8_t *out, size_t n) {
  static const char *words[] = {"System32 ", "driver ", "windows ", "kernel ", "\r\n",
                                "registry ", "0x80000017 ", "catalog ", "manifest ", "amd64 "};
  size_t i = 0;
  while (i < n) {
    const char *w = words[next_random() % 10];
    while (*w && i < n) out[i++] = (uint8_t)*w++;
    if (next_random() % 7 == 0 && i < n) out[i++] = (uint8_t)(next_random() & 0xff);
  }
}

static void fill_random(uint8_t *out, size_t n) {
  for (size_t i = 0; i < n; i++) out[i] = (uint8_t)(next_random() >> 24);
}

static void write_at(int fd, const uint8_t *data, size_t n, uint64_t offset) {
  if (pwrite(fd, data, n, (off_t)offset) != (ssize_t)n) die("write");
}

int wof_generate(const char *kind, uint64_t size, const char *path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) die(path);
  if (ftruncate(fd, (off_t)size) != 0) die("truncate");
  static uint8_t block[1 << 16];
  state = 0x9E3779B97F4A7C15ull ^ size;
  if (strcmp(kind, "sparse") == 0) {
    /* a piece at the start, at every GiB (across the 4 GiB line too) and the end */
    for (uint64_t at = 0; at < size; at += 1ull << 30) {
      uint64_t from = at >= 50000 ? at - 50000 : 0;
      size_t n = (size_t)(size - from < 100000 ? size - from : 100000);
      fill_text(block, n > sizeof(block) ? sizeof(block) : n);
      write_at(fd, block, n > sizeof(block) ? sizeof(block) : n, from);
    }
    size_t tail = size < 70000 ? (size_t)size : 70000;
    fill_text(block, tail > sizeof(block) ? sizeof(block) : tail);
    write_at(fd, block, tail > sizeof(block) ? sizeof(block) : tail, size - tail);
  } else {
    for (uint64_t at = 0; at < size;) {
      size_t n = size - at < 16384 ? (size_t)(size - at) : 16384;
      int random = strcmp(kind, "random") == 0 || (strcmp(kind, "mixed") == 0 && (at / 16384) % 2);
      if (random) fill_random(block, n); else fill_text(block, n);
      write_at(fd, block, n, at);
      at += n;
    }
  }
  if (close(fd) != 0) die("close");
  return 0;
}

int wof_compress(int algorithm, const char *in_path, const char *out_path) {
  static const size_t chunk_sizes[] = {4096, 32768, 8192, 16384};
  if (algorithm < 0 || algorithm > 3) return fprintf(stderr, "algorithm 0-3\n"), 1;
  size_t chunk = chunk_sizes[algorithm];
  enum wimlib_compression_type type =
      algorithm == 1 ? WIMLIB_COMPRESSION_TYPE_LZX : WIMLIB_COMPRESSION_TYPE_XPRESS;
  int in = open(in_path, O_RDONLY);
  if (in < 0) die(in_path);
  struct stat st;
  if (fstat(in, &st) != 0) die("stat");
  uint64_t size = (uint64_t)st.st_size;
  uint64_t count = (size + chunk - 1) / chunk;
  unsigned entry = size > 0xFFFFFFFFull ? 8 : 4;
  uint64_t table_size = count ? (count - 1) * entry : 0;
  /* Large files get the faster level, small ones the default: both kinds
     of encoder output reach the reader. */
  struct wimlib_compressor *compressor;
  if (wimlib_create_compressor(type, chunk, size > (64u << 20) ? 20 : 0, &compressor) != 0)
    return fprintf(stderr, "no compressor\n"), 1;
  int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) die(out_path);
  uint8_t *raw = malloc(chunk), *packed = malloc(chunk), *table = calloc(1, entry);
  uint64_t written = 0;
  for (uint64_t i = 0; i < count; i++) {
    size_t n = (size_t)(size - i * chunk < chunk ? size - i * chunk : chunk);
    if (pread(in, raw, n, (off_t)(i * chunk)) != (ssize_t)n) die("read");
    size_t c = n > 1 ? wimlib_compress(raw, n, packed, n - 1, compressor) : 0;
    const uint8_t *bytes = c ? packed : raw;
    size_t length = c ? c : n;
    if (i > 0) {
      memcpy(table, &written, entry); /* little-endian host */
      write_at(out, table, entry, (i - 1) * entry);
    }
    write_at(out, bytes, length, table_size + written);
    written += length;
  }
  wimlib_free_compressor(compressor);
  free(raw), free(packed), free(table);
  if (close(out) != 0) die("close");
  close(in);
  return 0;
}

