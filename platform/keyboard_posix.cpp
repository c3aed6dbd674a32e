#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "platform/keyboard.h"
#include "platform/keyboard_posix.h"
#include "platform/stop_signals.h"

namespace kelvor {
namespace {

// Keys come from the controlling terminal, not standard input, which may be a pipe or a
// file. While this process is the terminal's foreground job the terminal is switched to
// non-canonical, unechoed input. It is put back on every way out (a normal return, exit, a
// fatal signal) and whenever the job leaves the foreground (Ctrl-Z, another job's fg). A
// job started in the background (kelvor ... &) takes the terminal when it comes to the
// foreground.

int terminal = -1;                // the controlling terminal, open for the whole run
volatile sig_atomic_t taken = 0;  // its settings are ours; savedSettings are the operator's
termios savedSettings;
const Keyboard* consoleKeyboard = nullptr;  // the one TerminalKeyboard, once made

// Holds back Ctrl-Z's SIGTSTP and SIGTTOU while the settings change. A change is then never
// cut in half by a stop, and one made from the background goes through instead of stopping
// the process: putting the operator's settings back is right even from there.
class JobSignalsHeld {
 public:
  JobSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGTSTP);
    sigaddset(&held, SIGTTOU);
    sigprocmask(SIG_BLOCK, &held, &before_);
  }
  ~JobSignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

 private:
  sigset_t before_;
};

void RestoreTerminal() {
  JobSignalsHeld held;
  if (taken == 0) return;
  tcsetattr(terminal, TCSANOW, &savedSettings);
  taken = 0;
}

// The foreground is looked at again with Ctrl-Z held: a stop between a look and the change
// would otherwise let a job continued in the background (bg) take the terminal.
void TakeTerminal() {
  JobSignalsHeld held;
  if (tcgetpgrp(terminal) != getpgrp() || tcgetattr(terminal, &savedSettings) != 0) return;
  termios raw = savedSettings;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(terminal, TCSANOW, &raw) == 0) taken = 1;
}

// The terminal is ours while this process is in its foreground job, which is looked at (one
// ioctl) whenever keys are looked for: the terminal is taken when the job has come to the
// foreground, and given back when the job has left it without stopping (another job made
// the foreground, or bg after a SIGSTOP). Keys are never read from the background, which
// would stop the process.
bool TerminalIsOurs() {
  if (terminal < 0) return false;
  if (tcgetpgrp(terminal) != getpgrp()) {
    RestoreTerminal();
  } else if (taken == 0) {
    TakeTerminal();
  }
  return taken != 0;
}

void OnFatalSignal(int signalNumber) {
  RestoreTerminal();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// Ctrl-Z: the operator's settings go back before the job stops. Continued in the foreground
// (fg), the job takes the terminal again at its next look for keys; continued in the
// background (bg), it leaves the terminal alone.
void OnTerminalStop(int) {
  int interruptedErrno = errno;  // the code it interrupts may be about to read errno
  RestoreTerminal();
  signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);  // the job stops here until it is continued
  signal(SIGTSTP, OnTerminalStop);
  errno = interruptedErrno;
}

// A crash or a stop must not leave the operator's terminal without echo.
void RestoreTerminalOnCrashOrStop() {
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) signal(s, OnFatalSignal);
  signal(SIGTSTP, OnTerminalStop);
  atexit(RestoreTerminal);
}

constexpr int kEscape = 0x1B;
constexpr int kSequenceWait = 100;  // ms for the rest of an escape sequence

class TerminalKeyboard : public Keyboard {
 public:
  TerminalKeyboard() {
    consoleKeyboard = this;
    CatchStopSignals();
    terminal = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) return;  // no controlling terminal (a service): no keys
    RestoreTerminalOnCrashOrStop();
    TerminalIsOurs();
  }
  ~TerminalKeyboard() override { RestoreTerminal(); }

  bool KeyWaiting() override {
    if (StopRequested()) return true;
    if (!TerminalIsOurs()) return false;
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
    taken = 0;
    close(terminal);
    terminal = -1;
  }
};

}  // namespace

int KeyDescriptor(Keyboard& keyboard) {
  if (&keyboard != consoleKeyboard || !TerminalIsOurs()) return -1;
  return terminal;
}

Keyboard& ConsoleKeyboard() {
  static TerminalKeyboard keyboard;
  return keyboard;
}

}  // namespace kelvor
