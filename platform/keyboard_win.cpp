#include <conio.h>

#include "platform/keyboard.h"

namespace kelvor {
namespace {

// The console runtime reads the console input device itself, not standard input.
class ConioKeyboard : public Keyboard {
 public:
  bool KeyWaiting() override { return _kbhit() != 0; }
  // A function or arrow key comes as two codes, 0 or 0xE0 and then its scan code; the scan
  // code is taken with it, so Page Down (0x51) is not read as Q nor Delete (0x53) as S.
  int ReadKey() override {
    int key = _getch();
    if (key != 0 && key != 0xE0) return key;
    _getch();
    return 0;
  }
};

}  // namespace

Keyboard& ConsoleKeyboard() {
  static ConioKeyboard keyboard;
  return keyboard;
}

}  // namespace kelvor
