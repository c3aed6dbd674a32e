#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/stop_signals.h"

namespace kelvor {
namespace {

// The six colours as ANSI sequences, each distinct, written only when standard
// output is a terminal; elsewhere the output is plain text.
const char* AnsiSequence(Colour colour) {
  switch (colour) {
    case Colour::kModem:
      return "\x1b[0;37;44m";  // grey on blue
    case Colour::kStatusReport:
      return "\x1b[0;37;42m";  // grey on green
    case Colour::kWriteTimeout:
      return "\x1b[0;33;41m";  // yellow on red
    case Colour::kError:
      return "\x1b[0;37;41m";  // grey on red
    case Colour::kAlarmQueue:
      return "\x1b[0;94;43m";  // bright blue on yellow
    case Colour::kNormal:
      break;
  }
  return "\x1b[0m";  // plain
}

class AnsiConsole : public Console {
 public:
  AnsiConsole() : colour_(isatty(STDOUT_FILENO) == 1) { IgnoreBrokenPipes(); }

  void SetColour(Colour colour) override {
    if (!colour_) return;
    const char* sequence = AnsiSequence(colour);
    fwrite(sequence, 1, strlen(sequence), stdout);
  }

  // Everything goes through one stdio stream, so lines of the log and plain prints come
  // out in the order they were written. Flushed per write: the log is read live. A write
  // that fails (a pipe whose reader has gone, a full disk) loses its text and nothing
  // more: the alarms still go out, and stdio drops the text rather than keep it.
  void Write(const char* text, size_t length) override {
    fwrite(text, 1, length, stdout);
    fflush(stdout);
  }

 private:
  bool colour_;
};

}  // namespace

Console& StandardConsole() {
  static AnsiConsole console;
  return console;
}

}  // namespace kelvor
