#include <signal.h>

#include <initializer_list>

#include "platform/stop_signals.h"

namespace kelvor {
namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
  stopRequested = 1;
}

}  // namespace

// A signal the process was started with ignored stays ignored: `nohup kelvor ... &` and a
// service started from an ssh session must outlive the session's SIGHUP, and a shell
// script's background job is meant to be deaf to the terminal's Ctrl-C and Ctrl-\.
void CatchStopSignals() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction before {};
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(s, &stop, nullptr);
  }
}

bool StopRequested() {
  return stopRequested != 0;
}

bool TakeStopRequest() {
  if (stopRequested == 0) return false;
  stopRequested = 0;
  return true;
}

void IgnoreBrokenPipes() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace kelvor
