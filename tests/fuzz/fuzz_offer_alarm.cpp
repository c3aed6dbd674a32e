// OfferAlarm fed arbitrary 196-byte records, with tag texts and numbers of any bytes (or
// failing reads) from the SCADA side, and FlushIfDue as the clock jumps. Every batch waiting stays
// within its buffer and within one SMS unless it is a header and a single text; everything
// handed to the real outgoing queue ends up within 159 characters, free of bytes 26 and 27,
// for the destination's own number, and the queue never holds more than 21. Nothing is
// handed to a full queue, and every alarm a destination takes ("Buffering alm", "Counting
// alm") is named or counted in an SMS it queued or in the batch it still holds, whose
// summary line shows the count.
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "modem/outgoing_queue.h"
#include "routing/destination_list.h"
#include "support/fakes.h"

using namespace kelvor;

namespace {

// Tag answers taken from the fuzzer's bytes.
class FuzzScada : public test::FakeScada {
 public:
  explicit FuzzScada(fuzz::Input& input) : input_(input) {}
  int16_t ReadTagText(const char*, const char*, const char*, char* text) override {
    uint8_t how = input_.Byte();
    if (how % 5 == 0) return static_cast<int16_t>(how);  // a failed read leaves the buffer
    // Up to the whole 48 bytes, a terminator only when shorter: the program must cut.
    std::string bytes = input_.Bytes(how % (kTagTextSize + 1));
    memcpy(text, bytes.data(), bytes.size());
    if (bytes.size() < kTagTextSize) text[bytes.size()] = '\0';
    return 0;
  }
  int16_t ReadTagNumber(const char*, const char*, const char*, float* value) override {
    uint8_t how = input_.Byte();
    if (how % 7 == 0) return -1;
    uint32_t bits = input_.U32();
    memcpy(value, &bits, sizeof bits);
    return 0;
  }

 private:
  fuzz::Input& input_;
};

// Counts the alarms the destinations take, by their console lines.
class TakingConsole : public fuzz::CheckingConsole {
 public:
  void Write(const char* text, size_t length) override {
    fuzz::CheckingConsole::Write(text, length);
    std::string line(text, length);
    if (line.rfind("Buffering alm ", 0) == 0 || line.rfind("Counting alm ", 0) == 0) ++taken;
  }
  uint64_t taken = 0;
};

// The alarms a batch names and counts.
uint64_t AlarmsIn(const BatchAlarms& alarms) {
  return static_cast<uint64_t>(alarms.namedCount) + alarms.counted.Total();
}

const char* const kDestinations[] = {
    "=+1001,ABCDEFGHIJKLMNOP,L,30,F",
    "=+1002,A,H,0",
    "=+1003,AP,M,-5,F",
    "=+1004,ABCD,L,7200",
    "=+1005,ALL,L,1,F,N1:T1.F_CV",
    "=+1006,P,L,2,S,NODE:TAG.A_CV",
};

// A number one of the destinations was given.
bool KnownNumber(const char* number) {
  for (const char* specification : kDestinations) {
    std::string given(specification + 1);
    if (given.substr(0, given.find(',')) == number) return true;
  }
  return false;
}

// Checks every SMS a destination hands on, counts the alarms in it, then queues it in the
// real queue.
class CheckingOutbox : public SmsOutbox {
 public:
  CheckingOutbox(OutgoingQueue& queue, const DestinationList& list) : queue_(queue), list_(list) {}
  uint32_t QueueMessage(const char* text, const char* number) override {
    FUZZ_CHECK(strlen(text) < kBatchCapacity);
    FUZZ_CHECK(!queue_.Full());
    FUZZ_CHECK(KnownNumber(number) && number[0] != '\0');
    // The batch its destination holds is the SMS; a header alone goes without one.
    const BatchAlarms* alarms = nullptr;
    list_.ForEachPendingBatch([&](const PendingBatch& batch) {
      if (strcmp(batch.number, number) != 0) return;
      FUZZ_CHECK(strcmp(batch.text, text) == 0);
      alarms = batch.alarms;
    });
    if (alarms == nullptr) {
      FUZZ_CHECK(strcmp(text, kFirstHeader) == 0 || strcmp(text, kLaterHeader) == 0);
    } else {
      alarmsQueued += AlarmsIn(*alarms);
    }
    uint32_t queued = queue_.QueueMessage(text, number);
    CheckQueue();
    return queued;
  }
  bool Full() const override { return queue_.Full(); }
  void CheckQueue() {
    FUZZ_CHECK(queue_.Count() >= 0 && queue_.Count() <= kQueueCapacity);
    if (queue_.Empty()) return;
    // Every record is checked here once it has reached the head, as the dialogue sends it.
    const OutgoingSms& head = queue_.At(0);
    FUZZ_CHECK(fuzz::Terminated(head.text, sizeof head.text));
    FUZZ_CHECK(strlen(head.text) <= kSmsTextLimit);
    FUZZ_CHECK(strpbrk(head.text, "\x1a\x1b") == nullptr);
    FUZZ_CHECK(fuzz::Terminated(head.number, kNumberSize));
  }

  uint64_t alarmsQueued = 0;

 private:
  OutgoingQueue& queue_;
  const DestinationList& list_;
};

// Every alarm taken is named or counted in what was queued or what the batches hold.
void CheckBatches(const DestinationList& list, const CheckingOutbox& outbox,
                  const TakingConsole& console) {
  uint64_t held = 0;
  list.ForEachPendingBatch([&](const PendingBatch& batch) {
    FUZZ_CHECK(fuzz::Terminated(batch.text, kBatchCapacity));
    size_t length = strlen(batch.text);
    const BatchAlarms& alarms = *batch.alarms;
    // Beyond one SMS only as a header and a single full text, which the queue shortens.
    if (length > kSmsTextLimit) {
      FUZZ_CHECK(strncmp(batch.text, "Fix Alarms", 10) == 0);
      FUZZ_CHECK(alarms.namedCount == 1 && alarms.counted.Total() == 0);
    }
    // A count shows in the batch's last line.
    char summary[kSummaryMax + 1];
    size_t summaryLength = FormatSummary(alarms.counted, summary);
    FUZZ_CHECK(summaryLength <= length &&
               strcmp(batch.text + length - summaryLength, summary) == 0);
    held += AlarmsIn(alarms);
  });
  FUZZ_CHECK(outbox.alarmsQueued + held == console.taken);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  TakingConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock(input.U32());
  FuzzScada scada(input);
  ModemEvents events;
  OutgoingQueue queue(log, events);
  DestinationList list;
  for (const char* specification : kDestinations) {
    std::string text = specification;
    list.Add(ParseDestination(&text[0]));
  }
  CheckingOutbox outbox(queue, list);
  RoutingContext context{log, scada, clock, outbox};

  while (!input.Empty()) {
    switch (input.Byte() % 5) {
      case 0:
      case 1: {
        std::string bytes = input.Bytes(kAlarmRecordSize);
        AlarmRecord record{};
        memcpy(record.bytes, bytes.data(), bytes.size());
        list.OfferAlarm(record, context);
        break;
      }
      case 2:
        clock.Advance(input.Byte() * 1000u);
        list.FlushIfDue(context);
        break;
      case 3:
        clock.Advance(input.U32());
        list.FlushIfDue(context);
        break;
      default:
        for (int i = input.Byte() % 8; i > 0 && !queue.Empty(); --i) {
          outbox.CheckQueue();
          queue.Confirm(queue.Lend(kMainPhone)->id, kMainPhone, 0);
        }
        break;
    }
    CheckBatches(list, outbox, console);
  }
  while (!queue.Empty()) {
    outbox.CheckQueue();
    queue.Confirm(queue.Lend(kMainPhone)->id, kMainPhone, 0);
  }
  return 0;
}
