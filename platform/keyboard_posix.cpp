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

constexpr int kEscape = 0x1B;
constexpr int kSequenceWait = 100;  // ms for the rest of an escape sequence

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
    int key = ReadByte(0);
    if (key == kEscape) {
      SkipEscapeSequence();
      return 0;
    }
    return key < 0 ? 0 : key;
  }

 private:
  // Function, cursor and Alt keys send escape sequences, skipped whole as the Windows build
  // skips extended keys: F2 is ESC O Q, F4 ESC O S and Alt+Q ESC q, none of them Q or S.
  // The forms: ESC O and a byte; ESC [, bytes 0x20-0x3F and a final byte; the Linux
  // console's ESC [ [ and a letter; ESC and any other byte, an Alt key (ESC ESC ... with
  // some terminals). A lone ESC is the key Escape. A terminal writes a key's sequence at
  // once; its tail is waited for briefly all the same, so that a sequence split across
  // reads does not leak as keys.
  void SkipEscapeSequence() {
    int byte = ReadByte(kSequenceWait);
    while (byte == kEscape) byte = ReadByte(kSequenceWait);
    if (byte == 'O') ReadByte(kSequenceWait);
    if (byte != '[') return;
    byte = ReadByte(kSequenceWait);
    if (byte == '[') byte = ReadByte(kSequenceWait);
    while (byte >= 0x20 && byte <= 0x3F) byte = ReadByte(kSequenceWait);
  }

  // The next byte from the terminal, waiting up to `wait` ms for it; -1 when none came.
  int ReadByte(int wait) {
    if (terminal < 0) return -1;
    pollfd waiting{terminal, POLLIN, 0};
    if (wait > 0 && poll(&waiting, 1, wait) != 1) return -1;
    unsigned char got = 0;
    ssize_t count = read(terminal, &got, 1);
    if (count == 1) return got;
    if (count == 0 || (errno != EAGAIN && errno != EINTR)) DropTerminal();
    return -1;
  }

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
