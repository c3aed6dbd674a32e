// Start-up, command line, main loop and shutdown.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/keyboard.h"
#include "platform/serial.h"
#include "scada/scada.h"

namespace kelvor {

// Makes the serial port of each phone: the program's NewSerialPort, or a test's fake that
// keeps state. It holds its callable by value, as std::function would, and is never empty.
// Not std::function: a call of an empty one throws, and that throw alone would bring the
// whole exception runtime into kelvor.exe, which is built without exceptions
// (cmake/mingw-i686.cmake).
class SerialPortMaker {
 public:
  template <typename Callable, typename = std::enable_if_t<
                                   std::is_invocable_r_v<std::unique_ptr<SerialPort>, Callable&>>>
  SerialPortMaker(Callable make) : held_(std::make_unique<Held<Callable>>(std::move(make))) {}

  std::unique_ptr<SerialPort> operator()() const { return held_->Make(); }

 private:
  struct Maker {
    virtual ~Maker() = default;
    virtual std::unique_ptr<SerialPort> Make() = 0;
  };
  template <typename Callable>
  struct Held final : Maker {
    explicit Held(Callable callable) : make(std::move(callable)) {}
    std::unique_ptr<SerialPort> Make() override { return make(); }
    Callable make;
  };

  std::unique_ptr<Maker> held_;
};

// Everything the program takes from its surroundings. The program passes the system's;
// tests pass fakes, and a virtual clock runs the loop in virtual time.
struct Platform {
  Console& console;
  Keyboard& keyboard;
  Clock& clock;
  Scada& scada;
  SerialPortMaker newSerialPort;
};

// Runs the program on its command line; returns the process's exit status: 0 after the
// usage text, otherwise the number of destinations.
int KelvorMain(int argc, char** argv, Platform& platform);

}  // namespace kelvor
