// Keys pressed at the console.
#pragma once

namespace kelvor {

// A non-blocking test for a waiting key and an unechoed single-key read.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  virtual bool KeyWaiting() = 0;
  virtual int ReadKey() = 0;
};

// The console's keyboard. Where the platform delivers a request to stop (a signal on
// Linux), it arrives as the key Q, so the run ends as an operator's Q ends it.
Keyboard& ConsoleKeyboard();

}  // namespace kelvor
