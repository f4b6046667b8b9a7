// Points standard output (fd 1) for the life of the object at a temporary
// file, or at a pseudo terminal of 40 columns and 20 rows, so that tests can
// read what the code under test wrote there.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class StdoutCapture {
 public:
  enum class Target { kFile, kTerminal };

  explicit StdoutCapture(Target target = Target::kFile) {
    fflush(stdout);
    const int sink = target == Target::kFile ? OpenFile() : OpenTerminal();
    if (sink < 0) return;
    saved = dup(1);
    if (saved >= 0) dup2(sink, 1);
    if (target == Target::kTerminal) close(sink);
  }
  ~StdoutCapture() {
    Restore();
    if (source >= 0) close(source);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  bool IsOpen() const { return saved >= 0; }

  // Puts standard output back and returns everything written meanwhile.
  std::string Finish() {
    Restore();
    std::string text;
    if (source < 0) return text;
    char buffer[4096];
    ssize_t count;
    if (isTerminal) {
      fcntl(source, F_SETFL, O_NONBLOCK);
      while ((count = read(source, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(count));
      return text;
    }
    off_t at = 0;
    while ((count = pread(source, buffer, sizeof buffer, at)) > 0) {
      text.append(buffer, static_cast<size_t>(count));
      at += count;
    }
    return text;
  }

 private:
  // The file is both where fd 1 writes and what Finish reads.
  int OpenFile() {
    char name[] = "/tmp/stdout-capture-XXXXXX";
    source = mkstemp(name);
    if (source >= 0) unlink(name);
    return source;
  }

  // Fd 1 writes to the terminal's slave side; Finish reads its master side.
  int OpenTerminal() {
    isTerminal = true;
    source = posix_openpt(O_RDWR | O_NOCTTY);
    if (source < 0 || grantpt(source) != 0 || unlockpt(source) != 0) return -1;
    const int slave = open(ptsname(source), O_RDWR | O_NOCTTY);
    if (slave < 0) return -1;
    winsize size{};
    size.ws_col = 40;
    size.ws_row = 20;
    ioctl(slave, TIOCSWINSZ, &size);
    return slave;
  }

  void Restore() {
    if (saved < 0) return;
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    saved = -1;
  }

  int source = -1;
  int saved = -1;
  bool isTerminal = false;
};
