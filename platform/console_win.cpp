#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace kelvor {
namespace {

// Text goes through the C runtime's standard output in text mode, as printf writes it;
// the colour is changed on the console itself, so buffered text is flushed first to
// keep each stretch of text in the colour it was written in.
class WindowsConsole : public Console {
 public:
  WindowsConsole() : handle_(GetStdHandle(STD_OUTPUT_HANDLE)) {}

  void SetColour(Colour colour) override {
    fflush(stdout);
    SetConsoleTextAttribute(handle_, static_cast<WORD>(colour));
  }

  // Flushed per write, as on Linux: redirected to a file or a pipe, standard output is
  // fully buffered, and a log that is read live must not lag behind.
  void Write(const char* text, size_t length) override {
    fwrite(text, 1, length, stdout);
    fflush(stdout);
  }

 private:
  HANDLE handle_;
};

}  // namespace

Console& StandardConsole() {
  static WindowsConsole console;
  return console;
}

}  // namespace kelvor
