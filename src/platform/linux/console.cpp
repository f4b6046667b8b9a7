#include <unistd.h>

#include <cerrno>
#include <string>

#include "last_error.h"
#include "support/runtime/errors.h"
#include "support/runtime/handle.h"
#include "support/runtime/output.h"
#include "support/runtime/text.h"

// Console positions on a terminal. The terminal cannot be asked where its
// cursor is without reading from it, so the layer follows the cursor over
// everything written through it and moves it with relative sequences: rows
// count the line feeds since the start of the process, which stays right
// however far the screen has scrolled.

namespace {
// Rows are reported in 15 bits and wrap around; moves take the shorter way,
// so a status line stays reachable over the last 16384 lines.
constexpr int64_t kRowRange = 0x8000;
// ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
constexpr DWORD kTerminalOutputMode = 0x3;

// Whether `handle` is the console and standard output a terminal. Without
// one the calls fail with error 6, as they do when output is redirected.
bool IsTerminalConsole(HANDLE handle) {
  return HandleOf(handle, HandleKind::kConsole) != nullptr && isatty(1);
}

SHORT ReportedRow(int64_t row) { return static_cast<SHORT>(row % kRowRange); }
}  // namespace

HANDLE GetStdHandle(DWORD stdHandle) {
  if (stdHandle != STD_OUTPUT_HANDLE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  return StandardOutputHandle();
}

// A terminal reports the modes of a console that processes output and wraps
// at the end of a line; anything else is no console (error 6), as a file or
// pipe is on Windows.
BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  if (!IsTerminalConsole(console)) return FailWith(ERROR_INVALID_HANDLE);
  if (mode == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  *mode = kTerminalOutputMode;
  return TRUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) {
  if (!IsTerminalConsole(console)) return FailWith(ERROR_INVALID_HANDLE);
  if (info == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const int width = TerminalWidth();
  const TrackedCursor cursor = CurrentCursor();
  const SHORT row = ReportedRow(cursor.row);
  *info = CONSOLE_SCREEN_BUFFER_INFO{};
  info->dwSize = {static_cast<SHORT>(width), static_cast<SHORT>(kRowRange - 1)};
  // A full line leaves the cursor on its last column until the next character.
  const int64_t column = cursor.column < width ? cursor.column : width - 1;
  info->dwCursorPosition = {static_cast<SHORT>(column), row};
  info->wAttributes = 0x07;
  info->srWindow = {0, static_cast<SHORT>(row > 24 ? row - 24 : 0),
                    static_cast<SHORT>(width - 1), row};
  info->dwMaximumWindowSize = {static_cast<SHORT>(width), 25};
  return TRUE;
}

BOOL SetConsoleCursorPosition(HANDLE console, COORD position) {
  if (!IsTerminalConsole(console)) return FailWith(ERROR_INVALID_HANDLE);
  if (position.X < 0 || position.Y < 0) return FailWith(ERROR_INVALID_PARAMETER);
  TrackedCursor cursor = CurrentCursor();
  int64_t rows = position.Y - cursor.row % kRowRange;
  if (rows >= kRowRange / 2) rows -= kRowRange;
  if (rows < -kRowRange / 2) rows += kRowRange;
  std::string sequence;
  if (rows < 0) sequence += "\x1b[" + std::to_string(-rows) + "A";
  if (rows > 0) sequence += "\x1b[" + std::to_string(rows) + "B";
  sequence += "\r";
  if (position.X > 0) sequence += "\x1b[" + std::to_string(position.X) + "C";
  WriteStandardOutput(sequence);
  // The sequence moved the real cursor; the tracked one follows it here.
  cursor.row += rows;
  cursor.column = position.X;
  MoveTrackedCursor(cursor);
  return TRUE;
}

// A terminal cannot be read back: the layer follows its cursor, never its
// text. Status lines then trust their saved rows, which never go stale here.
BOOL ReadConsoleOutputCharacterW(HANDLE console, LPWSTR, DWORD, COORD, LPDWORD charsRead) {
  if (charsRead != nullptr) *charsRead = 0;
  if (!IsTerminalConsole(console)) return FailWith(ERROR_INVALID_HANDLE);
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD charsToWrite,
                   LPDWORD charsWritten, LPVOID reserved) {
  (void)reserved;
  if (charsWritten != nullptr) *charsWritten = 0;
  if (!IsTerminalConsole(console)) return FailWith(ERROR_INVALID_HANDLE);
  if (buffer == nullptr && charsToWrite > 0) return FailWith(ERROR_INVALID_PARAMETER);
  const wchar_t* text = static_cast<const wchar_t*>(buffer);
  const std::wstring wide(text, text + charsToWrite);
  if (!WriteStandardOutput(ToUtf8(wide))) return FailWith(Win32FromErrno(errno));
  if (charsWritten != nullptr) *charsWritten = charsToWrite;
  return TRUE;
}
