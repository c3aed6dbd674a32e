// The AT dialogue fed arbitrary chunks in arbitrary states, with SMS queued, service
// numbers set, writes failing and the clock jumping (across the tick wrap too). After every
// step: the accumulated response is within its 256 bytes, the queue within 21, the state
// one of the ten, and every SMS text that went out at the prompt is within 159 characters
// and free of the bytes that would end it early.
#include <memory>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "support/fake_serial.h"
#include "support/fakes.h"
#include "support/modem_parts.h"

using namespace kelvor;

namespace {

// Answers a phone gives, so that the fuzzer walks the states quickly.
const char* const kAnswers[] = {
    "\r\nOK\r\n",
    "\r\n> ",
    "\r\n+CMGS: 5\r\n\r\nOK\r\n",
    "\r\nERROR\r\n",
    "\r\n+CMS ERROR: 500\r\n",
    "\r\n+CME ERROR: 10\r\n",
    "\r\n+CSQ: 15,99\r\n\r\nOK\r\n",
    "\r\nRING\r\n",
    ">",
    "\r\n+CSCA: \"+99912345\",145\r\n\r\nOK\r\n",
};
constexpr int kAnswerCount = sizeof kAnswers / sizeof kAnswers[0];

void CheckWrite(const std::string& write) {
  FUZZ_CHECK(write.size() <= 255);
  if (write.size() > 1 && write.back() == '\x1a') {  // an SMS text and its Ctrl-Z
    std::string text = write.substr(0, write.size() - 1);
    FUZZ_CHECK(text.size() <= kSmsTextLimit);
    FUZZ_CHECK(text.find('\x1a') == std::string::npos);
    FUZZ_CHECK(text.find('\x1b') == std::string::npos);
    return;  // a text may look like a command; it goes out at the prompt all the same
  }
  for (const char* command : {"AT+CMGS=\"", "AT+CSCA=\""}) {
    if (write.rfind(command, 0) != 0) continue;
    std::string rest = write.substr(strlen(command));
    FUZZ_CHECK(rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "\"\r") == 0);
    std::string number = rest.substr(0, rest.size() - 2);
    FUZZ_CHECK(number.size() <= 31);
    FUZZ_CHECK(number.find_first_of("\"\r\n\x1a\x1b") == std::string::npos);
  }
}

void CheckModem(const test::ModemParts& modem) {
  const ModemDialogue& dialogue = modem.dialogue;
  FUZZ_CHECK(fuzz::Terminated(dialogue.Response(), kResponseSize));
  FUZZ_CHECK(modem.queue.Count() >= 0 && modem.queue.Count() <= kQueueCapacity);
  FUZZ_CHECK(dialogue.State() >= WaitReset && dialogue.State() <= WaitSignal);
  FUZZ_CHECK(dialogue.SignalStrength() >= 0 && dialogue.SignalStrength() <= 100);
  FUZZ_CHECK(fuzz::Terminated(dialogue.ServiceNumber(), kNumberSize));
  FUZZ_CHECK(strpbrk(dialogue.ServiceNumber(), "\"\r\n\x1a\x1b") == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock(input.U32());  // any start, a few steps before the wrap included
  auto owned = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort* port = owned.get();
  size_t checked = 0;
  test::ModemParts modem("COM5", "9600,N,8,1", std::move(owned), log, clock);

  static const bool trace = getenv("KELVOR_FUZZ_TRACE") != nullptr;  // to follow a crash
  int steps = 0;
  while (!input.Empty() && steps < 2000) {
    switch (input.Byte() % 10) {
      case 0:  // raw bytes, up to a whole read and beyond
        port->Arrive(input.Bytes(input.Byte() * 3u));
        break;
      case 1:
        port->Arrive(kAnswers[input.Byte() % kAnswerCount]);
        break;
      case 2:
        port->Answer(kAnswers[input.Byte() % kAnswerCount]);
        break;
      case 3:
        clock.Advance(input.Byte() * 250u);
        break;
      case 4:
        clock.Advance(input.U32());
        break;
      case 5: {
        std::string text = input.Text(255);
        std::string number = input.Text(40);
        modem.queue.QueueMessage(text.c_str(), number.c_str());
        break;
      }
      case 6:
        modem.dialogue.SetServiceNumber(input.Text(60).c_str());
        break;
      case 7:  // the port failing and coming back, which the resets reopen
        if (input.Byte() % 2 == 0) {
          port->writeResult = !port->writeResult;
        } else {
          port->readResult = port->openResult = !port->openResult;
        }
        break;
      default:
        for (int i = input.Byte() % 4 + 1; i > 0; --i, ++steps) {
          modem.dialogue.PollModem();
          CheckModem(modem);
        }
        break;
    }
    CheckModem(modem);
    for (; checked < port->writes.size(); ++checked) {
      if (trace)
        fprintf(stderr, "state %d TX %s\n", modem.dialogue.State(), port->writes[checked].c_str());
      CheckWrite(port->writes[checked]);
    }
  }
  return 0;
}
