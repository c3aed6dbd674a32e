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

void CatchStopSignals() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &stop, nullptr);
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
