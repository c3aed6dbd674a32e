// Placeholder until the serial link lands: no port ever opens.
#include "platform/serial.h"

namespace kelvor {
namespace {

class NoPort : public SerialPort {
 public:
  bool Open(const char*) override { return false; }
  bool SetMode(const char*, char* error, size_t errorSize) override {
    if (errorSize > 0) error[0] = '\0';
    return true;
  }
  uint32_t Read(char*, uint32_t) override { return 0; }
  bool Write(const char*, uint32_t) override { return false; }
  void Purge() override {}
  void Close() override {}
};

}  // namespace

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<NoPort>();
}

}  // namespace kelvor
