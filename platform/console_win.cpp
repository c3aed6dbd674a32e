#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace kelvor {
namespace {

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
};

}  // namespace

Console& StandardConsole() {
  static WindowsConsole console;
  return console;
}

}  // namespace kelvor
