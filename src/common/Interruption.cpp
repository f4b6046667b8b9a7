#include "common/Interruption.h"

#include <atomic>

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "platform.h"

namespace {
std::atomic<bool> interrupted{false};
// A closing console ends the process once the routine returns; the wait
// gives the run time to remove what it made, within what the system allows.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnControlEvent(DWORD event) {
  interrupted.store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    Sleep(kCloseGraceMs);
  return TRUE;
}
}  // namespace

int WatchForInterruption() {
  if (!SetConsoleCtrlHandler(OnControlEvent, TRUE)) return FailWithError(0);
  return 0;
}

bool Interrupted() { return interrupted.load(); }

int FailInterrupted() {
  static const int printed = PrintErrorLine(L"The run was interrupted; removing what it made.\n");
  return printed;
}

int StopIfInterrupted() { return Interrupted() ? FailInterrupted() : 0; }
