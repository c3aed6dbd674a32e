// Start-up, command line, main loop and shutdown.
#pragma once

#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/keyboard.h"
#include "platform/serial.h"
#include "scada/scada.h"

namespace kelvor {

// Everything the program takes from its surroundings. The program passes the system's;
// tests pass fakes, and a virtual clock runs the loop in virtual time.
struct Platform {
  Console& console;
  Keyboard& keyboard;
  Clock& clock;
  Scada& scada;
  std::function<std::unique_ptr<SerialPort>()> newSerialPort;
};

// Runs the program on its command line; returns the process's exit status: 0 after the
// usage text, otherwise the number of destinations.
int KelvorMain(int argc, char** argv, Platform& platform);

}  // namespace kelvor
