#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace kelvor {
namespace {

// With QuickEdit on (a console option, on by default since Windows 10) a click in the
// window starts a selection, and Windows holds every console write until the selection
// ends: the log line the loop is writing, and every alarm behind it, would wait for someone
// to press a key. It is off while Kelvor runs, and the console's input mode is put back at
// exit. The mode is the console's, reached through CONIN$ also when standard input is
// redirected. (Edit > Mark and the Pause key hold the output the same way; nothing here can
// turn those off.)
class QuickEditOff {
 public:
  QuickEditOff()
      : input_(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr)) {
    if (input_ == INVALID_HANDLE_VALUE) return;  // no console: nothing to hold the output
    if (!GetConsoleMode(input_, &saved_) || !SetConsoleMode(input_, Without(saved_))) {
      CloseHandle(input_);
      input_ = INVALID_HANDLE_VALUE;
    }
  }

  ~QuickEditOff() {
    if (input_ == INVALID_HANDLE_VALUE) return;
    SetConsoleMode(input_, Restored(saved_));
    CloseHandle(input_);
  }

  QuickEditOff(const QuickEditOff&) = delete;
  QuickEditOff& operator=(const QuickEditOff&) = delete;

 private:
  // QuickEdit and insert mode change only with ENABLE_EXTENDED_FLAGS. A console that does
  // not report them in its mode gets insert mode on, its default, rather than off.
  static DWORD Without(DWORD mode) {
    if ((mode & ENABLE_EXTENDED_FLAGS) == 0) mode |= ENABLE_EXTENDED_FLAGS | ENABLE_INSERT_MODE;
    return mode & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE);
  }

  // The mode as it was, QuickEdit and insert mode included, which only a mode with
  // ENABLE_EXTENDED_FLAGS sets back: without it QuickEdit stays off after Kelvor. A console
  // that did not report them gets both on, their defaults since Windows 10.
  static DWORD Restored(DWORD mode) {
    if ((mode & ENABLE_EXTENDED_FLAGS) != 0) return mode;
    return mode | ENABLE_EXTENDED_FLAGS | ENABLE_INSERT_MODE | ENABLE_QUICK_EDIT_MODE;
  }

  HANDLE input_;
  DWORD saved_ = 0;
};

// Text goes through the C runtime's standard output; the colour is changed on the console
// itself, so buffered text is flushed first to keep each stretch of text in the colour it
// was written in.
class WindowsConsole : public Console {
 public:
  // Binary: text mode turns the CR LF every line ends in into CR CR LF, which a file
  // (kelvor ... > kelvor.txt, as Task Scheduler runs are set up) keeps.
  WindowsConsole() : handle_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    _setmode(_fileno(stdout), _O_BINARY);
  }

  void SetColour(Colour colour) override {
    fflush(stdout);
    SetConsoleTextAttribute(handle_, static_cast<WORD>(colour));
  }

  // A LF without a CR before it gets one, as text mode gave it; CR LF goes as it is.
  // Flushed per write, as on Linux: redirected to a file or a pipe, standard output is
  // fully buffered, and a log that is read live must not lag behind.
  void Write(const char* text, size_t length) override {
    size_t from = 0;
    for (size_t i = 0; i < length; ++i) {
      char before = i > 0 ? text[i - 1] : last_;
      if (text[i] != '\n' || before == '\r') continue;
      fwrite(text + from, 1, i - from, stdout);
      fputc('\r', stdout);
      from = i;
    }
    fwrite(text + from, 1, length - from, stdout);
    if (length > 0) last_ = text[length - 1];
    fflush(stdout);
  }

 private:
  HANDLE handle_;
  char last_ = '\0';  // the last character written
  QuickEditOff quickEdit_;
};

}  // namespace

Console& StandardConsole() {
  static WindowsConsole console;
  return console;
}

}  // namespace kelvor
