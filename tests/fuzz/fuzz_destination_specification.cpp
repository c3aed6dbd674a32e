// The destination specification of a DEST argument or a file line: any text makes a
// destination whose fields stay within their 32 bytes, that cuts its text only at its
// delimiters, and that sends nothing unless it has a number.
#include <memory>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "routing/alarm_destination.h"
#include "support/fake_outbox.h"
#include "support/fakes.h"

using namespace kelvor;

namespace {

void CheckFields(const ParsedDestination& parsed, const AlarmDestination& destination) {
  const DestinationSpecification& s = parsed.specification;
  for (const char* field : {s.number, s.enableNode, s.enableTag, parsed.shownNumber}) {
    FUZZ_CHECK(fuzz::Terminated(field, kDestinationFieldSize));
  }
  FUZZ_CHECK(fuzz::Terminated(parsed.longToken, kShownTokenLength + 1));
  FUZZ_CHECK(s.priority >= -1 && s.priority <= 2);
  FUZZ_CHECK(!destination.BatchPending() && destination.PendingSince() == 0);
  FUZZ_CHECK(strcmp(destination.Batch(), s.fullMessages ? "Fix Alarms\n" : "") == 0);
  if (s.enableTagPresent) FUZZ_CHECK(s.enableNode[0] != '\0' && s.enableTag[0] != '\0');
}

// An alarm of every area and the highest priority, offered and flushed: whatever the
// destination queues goes to its own number, and a destination without one queues nothing.
void CheckSending(AlarmDestination& destination) {
  test::VirtualClock clock(1000);
  test::FakeScada scada;
  scada.numberReader = [](const std::string&, float* value) {
    *value = 1.0f;
    return int16_t{0};
  };
  test::FakeOutbox outbox;
  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  RoutingContext context{log, scada, clock, outbox};
  test::AlarmBuilder alarm;
  alarm.areas = 0xFFFF;
  AlarmRecord record = alarm.Build();
  for (int i = 0; i < 3; ++i) {
    destination.OfferAlarm(record, context);
    clock.Advance(7200u * 1000u);
    destination.FlushIfDue(context);
    clock.Advance(1000);
    destination.FlushIfDue(context);
  }
  for (const auto& sms : outbox.queued) {
    FUZZ_CHECK(sms.number == destination.Number());
    FUZZ_CHECK(!sms.number.empty());
  }
  if (destination.Number()[0] == '\0') FUZZ_CHECK(outbox.queued.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the text and its NUL, so a read or a write past it is caught.
  std::unique_ptr<char[]> text(new char[size + 1]);
  memcpy(text.get(), data, size);
  text[size] = '\0';

  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  ParsedDestination parsed = ParseDestination(text.get());
  ReportDestination(parsed, log);
  FUZZ_CHECK(console.written > 0);  // an echo or an error line, always
  AlarmDestination destination(parsed);

  // The text is cut in place only where a delimiter stood.
  for (size_t i = 0; i < size; ++i) {
    char before = static_cast<char>(data[i]);
    if (text[i] != before) FUZZ_CHECK(text[i] == '\0' && strchr("=,:.\r\n", before) != nullptr);
  }
  CheckFields(parsed, destination);
  CheckSending(destination);
  return 0;
}
