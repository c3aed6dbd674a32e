// Status reports of any shape: +CDS and +CDSI lines whose fields are the fuzzer's, among
// SMS confirmed with any message reference, the answers to the reading of "SR" of any shape,
// and the clock jumping. After every step: every console line within 255 bytes; a report
// handed over with its reference and status within 0 to 255 and its number within its
// field; every SMS confirmed awaited once and ended at most once (delivered, not delivered
// or without a report), so that the counts and the SMS awaiting always add up; a stored
// report read and deleted by its index as digits alone.
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "modem/sms_modem.h"
#include "support/fake_serial.h"
#include "support/scripted_phone.h"

using namespace kelvor;

namespace {

const char* const kPieces[] = {
    "\r\n+CDS: 6,",
    "\r\n+CDS: ",
    "\r\n+CDSI: \"SR\",",
    "\r\n+CDSI: \"SM\",3\r\n",
    ",\"+4917100001\",145,\"26/12/08,21:00:00+04\",\"26/12/08,21:00:09+04\",",
    ",\"002B0034\",145,\"a\",\"b\",",
    ",,129,\"\",\"\",",
    "\r\n",
    "0",
    "32",
    "70",
    "255",
    "256",
    "\"",
    ",",
    "\r\n+CMGR: \"REC UNREAD\",6,",
    "\r\nOK\r\n",
    "\r\n+CMS ERROR: 321\r\n",
};
constexpr int kPieceCount = sizeof kPieces / sizeof kPieces[0];

bool DigitsCommand(const std::string& write, const char* head) {
  size_t length = strlen(head);
  if (write.compare(0, length, head) != 0) return true;
  if (write.size() < length + 2 || write.back() != '\r') return false;
  for (size_t i = length; i + 1 < write.size(); ++i) {
    if (write[i] < '0' || write[i] > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock(input.U32());
  auto owned = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort& port = *owned;
  test::ScriptedPhone phone;
  phone.Plug(port, &clock);
  SmsModem modem("COM5", nullptr, std::move(owned), log, clock);
  modem.AskReports(1 + input.Byte() % 100);
  uint32_t awaited = 0;  // SMS confirmed with a reference
  uint32_t ended = 0;
  size_t checked = 0;  // writes checked so far
  ModemEvents events;
  int operations = 0;
  while (!input.Empty() && operations++ < 2000) {
    switch (input.Byte() % 5) {
      case 0:
        phone.sendResult = "\r\n+CMGS: " + std::to_string(input.Byte()) + "\r\n\r\nOK\r\n";
        modem.QueueMessage("Pump 3 failed", input.Byte() % 2 ? "+4917100001" : "+4");
        break;
      case 1:
        port.Arrive(kPieces[input.Byte() % kPieceCount]);
        break;
      case 2:
        port.Arrive(input.Text(80));
        break;
      case 3:
        clock.Advance(input.U32() % (2 * kMinute));
        break;
      default:
        clock.Advance(100);
        break;
    }
    modem.PollModem();
    modem.TakeEvents(&events);
    for (int i = 0; i < events.Count(); ++i) {
      const ModemEvent& event = events.At(i);
      if (event.kind == ModemEvent::kConfirmed && event.reference >= 0) ++awaited;
      if (event.kind == ModemEvent::kDelivery) ++ended;
      if (event.kind != ModemEvent::kReport) continue;
      FUZZ_CHECK(event.report.reference >= 0 && event.report.reference <= 255);
      FUZZ_CHECK(event.report.status >= 0 && event.report.status <= 255);
      FUZZ_CHECK(fuzz::Terminated(event.report.number, kNumberSize));
    }
    DeliveryCounts counts = modem.Deliveries().Counts();
    FUZZ_CHECK(counts.awaiting >= 0 && counts.awaiting <= kAwaitedCapacity);
    FUZZ_CHECK(counts.delivered + counts.undelivered + counts.noReport == ended);
    FUZZ_CHECK(ended + static_cast<uint32_t>(counts.awaiting) == awaited);
    for (; checked < port.writes.size(); ++checked) {
      FUZZ_CHECK(DigitsCommand(port.writes[checked], "AT+CMGR="));
      FUZZ_CHECK(DigitsCommand(port.writes[checked], "AT+CMGD="));
    }
  }
  return 0;
}
