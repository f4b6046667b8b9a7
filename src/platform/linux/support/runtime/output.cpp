#include "output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {
std::mutex outputMutex;
TrackedCursor cursor;

// Follows the cursor as a terminal moves it: a line feed starts the next
// line, a carriage return goes to column 0, and a character written past the
// last column wraps to the next line first.
void Track(const char* data, size_t size, int width) {
  for (size_t i = 0; i < size; ++i) {
    const unsigned char byte = static_cast<unsigned char>(data[i]);
    if (byte == '\n') {
      ++cursor.row;
      cursor.column = 0;
    } else if (byte == '\r') {
      cursor.column = 0;
    } else if (byte == '\b') {
      if (cursor.column > 0) --cursor.column;
    } else if ((byte & 0xC0) != 0x80) {  // continuation bytes add no character
      if (cursor.column >= width) {
        ++cursor.row;
        cursor.column = 0;
      }
      ++cursor.column;
    }
  }
}
}  // namespace

int TerminalWidth() {
  winsize size{};
  if (ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

bool WriteStandardOutput(const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(outputMutex);
  Track(data, size, TerminalWidth());
  while (size > 0) {
    const ssize_t written = write(1, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool WriteStandardOutput(const std::string& text) {
  return WriteStandardOutput(text.data(), text.size());
}

TrackedCursor CurrentCursor() {
  std::lock_guard<std::mutex> lock(outputMutex);
  return cursor;
}

void MoveTrackedCursor(const TrackedCursor& position) {
  std::lock_guard<std::mutex> lock(outputMutex);
  cursor = position;
}

LinuxHandle* StandardOutputHandle() {
  static LinuxHandle console = [] {
    LinuxHandle handle;
    handle.kind = HandleKind::kConsole;
    handle.fd = 1;
    return handle;
  }();
  return &console;
}
