// The COM argument and its line-settings text: the split stays within the working copy,
// the port opened is the name before the first "=", a mode text is either read whole or
// refused without changing anything, and the port's error text stays within its buffer.
#include <memory>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "modem/serial_link.h"
#include "platform/serial_mode.h"
#include "support/fake_serial.h"

using namespace kelvor;

namespace {

bool InRange(const SerialSettings& settings) {
  return settings.baud <= 999999999 &&
         (settings.parity == 0 || strchr("NOEMS", settings.parity) != nullptr) &&
         (settings.dataBits == 0 || (settings.dataBits >= 5 && settings.dataBits <= 8)) &&
         settings.stopBits <= StopBits::kTwo && settings.handshake <= Handshake::kHardware &&
         settings.timeout <= LineSwitch::kToggle && settings.rts <= LineSwitch::kToggle &&
         settings.dtr <= LineSwitch::kToggle;
}

void CheckModeText(const char* mode) {
  SerialSettings settings;
  settings.baud = 12345;  // a mark that a refused text must leave alone
  settings.parity = 'Z';
  SerialSettings before = settings;
  if (ParseSerialMode(mode, &settings)) {
    FUZZ_CHECK(InRange(settings));
  } else {
    FUZZ_CHECK(memcmp(&settings, &before, sizeof settings) == 0);
  }

  // The system port reads the same text without being opened; its error text is cut to
  // the buffer it is given.
  auto port = NewSerialPort();
  const size_t kErrorSize = 12;
  std::unique_ptr<char[]> error(new char[kErrorSize]);
  if (!port->BuildMode(mode, error.get(), kErrorSize)) {
    FUZZ_CHECK(fuzz::Terminated(error.get(), kErrorSize));
  } else {
    SerialSettings again;
    FUZZ_CHECK(ParseSerialMode(mode, &again));
  }
}

void CheckSplit(const char* argument) {
  size_t length = strlen(argument);
  ComArgument split;
  bool fits = SplitComArgument(argument, &split);
  FUZZ_CHECK(fits == (length < kComArgumentSize));
  if (!fits) return;
  FUZZ_CHECK(fuzz::Terminated(split.copy, kComArgumentSize));
  const char* equals = strchr(argument, '=');
  FUZZ_CHECK((split.mode != nullptr) == (equals != nullptr));
  size_t portLength = equals != nullptr ? static_cast<size_t>(equals - argument) : length;
  FUZZ_CHECK(strlen(split.copy) == (strnlen(argument, portLength)));
  if (split.mode != nullptr) {
    FUZZ_CHECK(split.mode == split.copy + portLength + 1);
    FUZZ_CHECK(strlen(split.mode) == length - portLength - 1);
    for (const char* c = split.mode; *c != '\0'; ++c) FUZZ_CHECK(!(*c >= 'a' && *c <= 'z'));
    CheckModeText(split.mode);
  }
}

void CheckOpen(const char* argument) {
  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  auto port = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort* fake = port.get();
  {
    SerialLink link(std::move(port), log);
    link.Create(argument);
    FUZZ_CHECK(fuzz::Terminated(link.PortName(), kPortNameSize));
    if (strlen(argument) >= kComArgumentSize) {
      FUZZ_CHECK(fake->calls.empty());  // too long: nothing is opened
    } else {
      FUZZ_CHECK(!fake->calls.empty() && fake->calls[0] == std::string("Open ") + link.PortName());
      FUZZ_CHECK(strchr(link.PortName(), '=') == nullptr);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  memcpy(text.get(), data, size);
  text[size] = '\0';
  CheckSplit(text.get());
  CheckOpen(text.get());
  CheckModeText(text.get());  // the whole text as a mode, "COMn:" prefix and all
  return 0;
}
