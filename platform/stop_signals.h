// Requests to stop that come from outside the program: on Linux SIGINT, SIGTERM and
// SIGHUP (Ctrl-C, systemctl stop, a closed terminal). The keyboard delivers a request as
// the key Q, so the run ends as an operator's Q ends it: the pass completes, then shutdown.
#pragma once

namespace kelvor {

// Installs the handlers; each of the three signals then only sets a flag.
void CatchStopSignals();

// True while a request is waiting.
bool StopRequested();

// Takes the waiting request: true once per request.
bool TakeStopRequest();

}  // namespace kelvor
