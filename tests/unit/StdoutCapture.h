// Sends standard output (fd 1) to a temporary file for the life of the
// object, so that tests can read what the layer wrote there.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class StdoutCapture {
 public:
  StdoutCapture() {
    fflush(stdout);
    char name[] = "/tmp/stdout-capture-XXXXXX";
    file = mkstemp(name);
    if (file >= 0) unlink(name);
    saved = dup(1);
    if (file >= 0 && saved >= 0) dup2(file, 1);
  }
  ~StdoutCapture() { Restore(); if (file >= 0) close(file); }

  // Puts standard output back and returns everything written meanwhile.
  std::string Finish() {
    Restore();
    std::string text;
    if (file < 0) return text;
    char buffer[4096];
    ssize_t count;
    off_t at = 0;
    while ((count = pread(file, buffer, sizeof buffer, at)) > 0) {
      text.append(buffer, static_cast<size_t>(count));
      at += count;
    }
    return text;
  }

 private:
  void Restore() {
    if (saved < 0) return;
    dup2(saved, 1);
    close(saved);
    saved = -1;
  }

  int file = -1;
  int saved = -1;
};
