#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "platform/keyboard.h"
#include "platform/stop_signals.h"

namespace kelvor {
namespace {

// Keys come from the controlling terminal, not standard input, which may be a pipe or a
// file. The terminal is switched to non-canonical, unechoed input while the program runs
// and put back on every way out: a normal return, exit, or a fatal signal.

int terminal = -1;
termios savedSettings;

void RestoreTerminal() {
  if (terminal >= 0) tcsetattr(terminal, TCSANOW, &savedSettings);
}

void OnFatalSignal(int signalNumber) {
  RestoreTerminal();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// A crash must not leave the operator's terminal without echo.
void RestoreTerminalOnCrash() {
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) signal(s, OnFatalSignal);
}

// Takes the terminal only when this process is in its foreground: changing the settings
// from the background would stop the process.
void TakeTerminal() {
  int fd = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  if (tcgetpgrp(fd) != getpgrp() || tcgetattr(fd, &savedSettings) != 0) {
    close(fd);
    return;
  }
  termios raw = savedSettings;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &raw) != 0) {
    close(fd);
    return;
  }
  terminal = fd;
  atexit(RestoreTerminal);
}

class TerminalKeyboard : public Keyboard {
 public:
  TerminalKeyboard() {
    CatchStopSignals();
    RestoreTerminalOnCrash();
    TakeTerminal();
  }
  ~TerminalKeyboard() override { RestoreTerminal(); }

  bool KeyWaiting() override {
    if (StopRequested()) return true;
    if (terminal < 0) return false;
    pollfd waiting{terminal, POLLIN, 0};
    if (poll(&waiting, 1, 0) != 1) return false;
    if ((waiting.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      DropTerminal();  // the terminal went away: no more keys
      return false;
    }
    return (waiting.revents & POLLIN) != 0;
  }

  int ReadKey() override {
    if (TakeStopRequest()) return 'Q';
    unsigned char key = 0;
    if (terminal < 0) return 0;
    ssize_t got = read(terminal, &key, 1);
    if (got == 1) return key;
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) DropTerminal();
    return 0;
  }

 private:
  static void DropTerminal() {
    close(terminal);
    terminal = -1;
  }
};

}  // namespace

Keyboard& ConsoleKeyboard() {
  static TerminalKeyboard keyboard;
  return keyboard;
}

}  // namespace kelvor
