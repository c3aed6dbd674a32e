#include <conio.h>

#include "platform/keyboard.h"

namespace kelvor {
namespace {

// The console runtime reads the console input device itself, not standard input.
class ConioKeyboard : public Keyboard {
 public:
  bool KeyWaiting() override { return _kbhit() != 0; }
  int ReadKey() override { return _getch(); }
};

}  // namespace

Keyboard& ConsoleKeyboard() {
  static ConioKeyboard keyboard;
  return keyboard;
}

}  // namespace kelvor
