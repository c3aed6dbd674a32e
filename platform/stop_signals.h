// Signals whose default is to end the program. Requests to stop that come from outside it,
// on Linux SIGINT, SIGTERM, SIGHUP and SIGQUIT (Ctrl-C, systemctl stop, a closed terminal,
// Ctrl-\) unless the process was started with them ignored, on Windows the console's
// Ctrl-C, Ctrl-Break, close and shutdown events: the keyboard delivers a request as the key
// Q, so the run ends as an operator's Q ends it: the pass completes, then shutdown. And, on
// Linux, SIGPIPE, which only says a write failed.
#pragma once

namespace kelvor {

// Installs the handlers; each request then only sets a flag.
void CatchStopSignals();

// True while a request is waiting.
bool StopRequested();

// Takes the waiting request: true once per request.
bool TakeStopRequest();

// Ignores SIGPIPE, which would otherwise end the program at the first write to a pipe whose
// reader has gone (`kelvor ... | tee log` after tee died): the write fails instead.
void IgnoreBrokenPipes();

}  // namespace kelvor
