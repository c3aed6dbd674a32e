// Requests to stop on Windows: Ctrl-C or Ctrl-Break at the console (which is what a service
// wrapper sends a console program first), the console window closed, the system shutting
// down. Not a user logging off: Windows tells every console program of every user that
// some user logs off, those a service wrapper runs included, and forwarding must go on.
#include <windows.h>

#include "platform/stop_signals.h"

namespace kelvor {
namespace {

volatile LONG stopRequested = 0;

// The longest a closing console or a shutdown is held up for the run to end: the
// system ends the process once the handler returns, and gives it about five seconds.
constexpr DWORD kEndingWait = 4000;

// Windows runs this on a thread of its own. Ctrl-C and Ctrl-Break only ask: the loop ends
// the run at the end of its pass, as Q does, saying what it leaves unsent. For the other
// events the handler then waits, so that the run can end before the process is ended; a
// run that ends first ends the process, and this thread with it.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_LOGOFF_EVENT) return TRUE;  // handled: the default would end the process
  InterlockedExchange(&stopRequested, 1);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(kEndingWait);
  return TRUE;
}

}  // namespace

// A process started in a new process group (start /b, some service wrappers) inherits
// "ignore Ctrl-C", under which no handler hears it: that is turned off first.
void CatchStopSignals() {
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StopRequested() {
  return InterlockedCompareExchange(&stopRequested, 0, 0) != 0;
}

bool TakeStopRequest() {
  return InterlockedExchange(&stopRequested, 0) != 0;
}

}  // namespace kelvor
