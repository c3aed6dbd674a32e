#include <conio.h>

#include "platform/keyboard.h"
#include "platform/stop_signals.h"

namespace kelvor {
namespace {

// The console runtime reads the console input device itself, not standard input. A request
// to stop from outside (Ctrl-C, a closing console) arrives as the key Q.
class ConioKeyboard : public Keyboard {
 public:
  ConioKeyboard() { CatchStopSignals(); }

  bool KeyWaiting() override { return StopRequested() || _kbhit() != 0; }
  // A function or arrow key comes as two codes, 0 or 0xE0 and then its scan code; the scan
  // code is taken with it, so Page Down (0x51) is not read as Q nor Delete (0x53) as S.
  int ReadKey() override {
    if (TakeStopRequest()) return 'Q';
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
