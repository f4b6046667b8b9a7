// Standard output as one UTF-8 stream, and the cursor position that the
// layer follows on a terminal so that console positions can be reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "handle.h"

struct TrackedCursor {
  int64_t row = 0;     // line feeds written since the start
  int64_t column = 0;  // characters since the last line start
};

// Writes all of `size` bytes to fd 1 (short writes continued, EINTR
// retried) and moves the tracked cursor over them. False on a write error.
bool WriteStandardOutput(const char* data, size_t size);
bool WriteStandardOutput(const std::string& text);

TrackedCursor CurrentCursor();
void MoveTrackedCursor(const TrackedCursor& position);

// Columns of the terminal on fd 1 (80 when unknown).
int TerminalWidth();

// The one Console handle that GetStdHandle gives out; never freed.
LinuxHandle* StandardOutputHandle();
