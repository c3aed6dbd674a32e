#include "app/kelvor_main.h"

int main(int argc, char** argv) {
  kelvor::Platform platform{kelvor::StandardConsole(), kelvor::ConsoleKeyboard(),
                            kelvor::SystemClock(), kelvor::SystemScada(), kelvor::NewSerialPort};
  return kelvor::KelvorMain(argc, argv, platform);
}
