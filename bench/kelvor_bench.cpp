// What the main loop's work costs: a pass with an alarm offered to 31 destinations, the
// flush check over 31 destinations, one modem step that takes a chunk, reading a
// destination specification, and one write of a full spool. Console output is formatted
// and then thrown away.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/spool.h"
#include "log/console_log.h"
#include "modem/sms_modem.h"
#include "routing/destination_list.h"
#include "support/fake_outbox.h"
#include "support/fake_serial.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

// 31 destinations that all take the alarm, half with full messages, a third with an
// enable tag, with a modem whose queue takes their SMS.
struct Routing {
  Routing() : log(console, nullptr) {
    scada.AnswerEveryTag("Feed flow low", "  12.5", 1.0f);
    for (int j = 0; j < DestinationList::kCapacity; ++j) {
      std::string spec = "=" + Number(j) + ",ABCDEFGHIJKLMNOP,L," + std::to_string(5 + j % 30) +
                         (j % 2 ? ",F" : ",S") + (j % 3 == 0 ? ",EN:E1.F_CV" : "");
      list.Add(ParseDestination(&spec[0]));
    }
    test::AlarmBuilder alarm;
    alarm.areas = 0xFFFF;
    alarm.text = "Feed pump tripped";
    alarm.tag = "FEED_PUMP_1";
    record = alarm.Build();
  }
  static std::string Number(int j) { return "+44790000" + std::to_string(100 + j); }
  test::NullConsole console;
  ConsoleLog log;
  test::VirtualClock clock{1000};
  test::FakeScada scada;
  DestinationList list;
  AlarmRecord record;
};

void BM_PassWithAnAlarmFor31Destinations(benchmark::State& state) {
  Routing routing;
  auto port = std::make_unique<test::FakeSerialPort>();  // a silent phone
  port->recording = false;
  SmsModem modem("COM1", "9600,N,8,1", std::move(port), routing.log, routing.clock);
  RoutingContext context{routing.log, routing.scada, routing.clock, modem};
  for (auto _ : state) {
    routing.list.OfferAlarm(routing.record, context);
    routing.clock.Advance(100);
    routing.list.FlushIfDue(context);
    modem.PollModem();
  }
}
BENCHMARK(BM_PassWithAnAlarmFor31Destinations);

void BM_FlushIfDueOver31Destinations(benchmark::State& state) {
  Routing routing;
  test::FakeOutbox outbox;
  RoutingContext context{routing.log, routing.scada, routing.clock, outbox};
  routing.list.OfferAlarm(routing.record, context);  // every batch pending, none due yet
  for (auto _ : state) routing.list.FlushIfDue(context);
}
BENCHMARK(BM_FlushIfDueOver31Destinations);

void BM_PollModemStepWithAChunk(benchmark::State& state) {
  test::NullConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock(1000);
  auto owned = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort* port = owned.get();
  port->recording = false;
  port->idle = "\r\nOK\r\n";
  SmsModem modem("COM1", "9600,N,8,1", std::move(owned), log, clock);
  while (!modem.HasBeenReady()) modem.PollModem();  // every command answered OK
  // In Ready, each step reads an error report, takes its number and empties the response.
  port->idle = "\r\n+CME ERROR: 10\r\n";
  for (auto _ : state) {
    modem.PollModem();
    benchmark::DoNotOptimize(modem.LastError());
  }
}
BENCHMARK(BM_PollModemStepWithAChunk);

void BM_DestinationSpecification(benchmark::State& state) {
  test::NullConsole console;
  ConsoleLog log(console, nullptr);
  const char kSpecification[] = "=+99955501234,AD,H,30,F,NODE1:ENABLE_TAG.F_CV";
  char text[sizeof kSpecification];
  for (auto _ : state) {
    memcpy(text, kSpecification, sizeof text);
    ParsedDestination parsed = ParseDestination(text);
    ReportDestination(parsed, log);
    AlarmDestination destination(parsed);
    benchmark::DoNotOptimize(destination.Batch());
  }
}
BENCHMARK(BM_DestinationSpecification);

// The largest spool: 21 SMS of 159 characters and a batch at each of 31 destinations,
// written to a file in TMPDIR (default /tmp) and renamed over the last one. Each round
// holds one alarm SMS for an answer or lets it go, so the spool has changed.
void BM_SpoolWriteOfAFullQueueAnd31Batches(benchmark::State& state) {
  Routing routing;
  SmsModem modem(nullptr, nullptr, nullptr, routing.log, routing.clock);
  const std::string text(kSmsTextLimit, 'x');
  for (int i = 0; i < kQueueCapacity; ++i) modem.QueueMessage(text.c_str(), "+44790000100");
  const std::string batch(kBatchCapacity - 1, 'y');
  for (int j = 0; j < DestinationList::kCapacity; ++j) {
    routing.list.RestoreBatch(Routing::Number(j).c_str(), batch.c_str(), 0);
  }
  const char* folder = getenv("TMPDIR");
  const std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/kelvor-bench.spool";
  Spool spool(path.c_str());
  Escalation escalation;
  WakeUpCalls calls;
  escalation.AddRule(Routing::Number(0).c_str(), 5, Routing::Number(1).c_str());
  bool held = false;
  for (auto _ : state) {
    if (held) {
      escalation.Acknowledge(Routing::Number(0).c_str());
    } else {
      escalation.AlarmConfirmed(Routing::Number(0).c_str(), 1, "held", 0);
    }
    held = !held;
    if (spool.WriteIfChanged(modem, routing.list, escalation, calls, 0) != Spool::kWritten) {
      state.SkipWithError("the spool could not be written");
      break;
    }
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_SpoolWriteOfAFullQueueAnd31Batches)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvor

BENCHMARK_MAIN();
