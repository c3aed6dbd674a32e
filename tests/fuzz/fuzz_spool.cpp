// The spool reader fed any bytes as a spool file. Every record it hands on is, byte for
// byte, a record as Kelvor writes it (a plain model of the layout and its CRC-32), lying
// right after the one before; there are never more than 21 SMS, 31 batches or 64 alarm SMS
// awaiting an answer; a batch's alarms stay within its text and a batch's limits; what the
// restore puts into the real queue, destinations and escalation stays within their limits,
// a batch that counts alarms within one SMS, each SMS its own id. A file of either version
// (with SMS ids or without) is read. Then the
// state restored is written again and read back whole, and, cut short or with one byte
// changed, gives back exactly the records before the damage.
#include <string>
#include <vector>

#include "app/spool.h"
#include "fuzz_support.h"
#include "log/console_log.h"
#include "support/fakes.h"

using namespace kelvor;

namespace {

uint32_t ModelCrc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1u ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

std::string Le32(uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Counted(const char* text) {
  return static_cast<char>(strlen(text)) + std::string(text);
}

// An alarm SMS awaiting an answer: its holder and text, the number passed over with its
// minutes, the numbers reached, and in a file with ids the two it keeps.
std::string ModelEscalation(const EscalationRecord& held, bool ids) {
  std::string bytes{'A', static_cast<char>(held.delivered ? 1 : 0)};
  bytes += Le32(held.wait);
  bytes += static_cast<char>(strlen(held.holder));
  bytes += static_cast<char>(strlen(held.text));
  bytes += std::string(held.holder) + held.text;
  bytes += static_cast<char>(held.passedMinutes & 0xFF);
  bytes += static_cast<char>(held.passedMinutes >> 8);
  bytes += Counted(held.passedOver);
  bytes += static_cast<char>(held.reachedCount);
  for (int i = 0; i < held.reachedCount; ++i) {
    bytes += static_cast<char>(held.reached[i].confirmed ? 1 : 0);
    bytes += Counted(held.reached[i].number);
  }
  if (ids) bytes += Le32(held.alarmId) + Le32(held.sentId);
  return bytes + Le32(ModelCrc(bytes));
}

// A batch's alarms after its text: those it names, then its counts.
std::string ModelBatchAlarms(const BatchAlarms& alarms) {
  std::string bytes{static_cast<char>(alarms.namedCount)};
  for (int i = 0; i < alarms.namedCount; ++i) {
    const NamedAlarm& named = alarms.named[i];
    bytes += {static_cast<char>(named.length), static_cast<char>(named.priority),
              static_cast<char>(named.hour), static_cast<char>(named.minute)};
  }
  for (uint32_t count : alarms.counted.byPriority) bytes += Le32(count);
  return bytes + std::string{static_cast<char>(alarms.counted.hour),
                             static_cast<char>(alarms.counted.minute),
                             static_cast<char>(alarms.counted.namedSince)};
}

std::string ModelRecord(const SpoolRecord& record, bool ids) {
  if (record.kind == SpoolRecord::kEscalation) return ModelEscalation(record.escalation, ids);
  std::string bytes{static_cast<char>(record.kind), static_cast<char>(record.attempts)};
  uint32_t urgency = static_cast<uint32_t>(record.urgency + 1) << 8;
  bool escalated = record.smsKind == SmsKind::kEscalated;
  bytes += Le32(record.kind == SpoolRecord::kSms ? (escalated ? 1u : 0u) | urgency
                                                 : record.pendingSince);
  bytes += static_cast<char>(strlen(record.number));
  bytes += static_cast<char>(strlen(record.text));
  bytes += std::string(record.number) + record.text;
  if (record.kind == SpoolRecord::kBatch && record.batchAlarmsKept) {
    bytes += ModelBatchAlarms(record.batchAlarms);
  }
  if (ids && record.kind == SpoolRecord::kSms) bytes += Le32(record.id);
  if (record.kind == SpoolRecord::kReport) {
    bytes += Le32(record.report.id) + static_cast<char>(record.report.kind) +
             static_cast<char>(record.report.phone);
  }
  return bytes + Le32(ModelCrc(bytes));
}

// A batch's alarms within the limits a batch keeps: what its text names fits in it.
void CheckBatchAlarms(const SpoolRecord& record) {
  const BatchAlarms& alarms = record.batchAlarms;
  FUZZ_CHECK(record.batchAlarmsKept == (record.attempts == 1));
  if (!record.batchAlarmsKept) return;
  FUZZ_CHECK(alarms.namedCount >= 0 && alarms.namedCount <= kNamedCapacity);
  size_t named = 0;
  for (int i = 0; i < alarms.namedCount; ++i) {
    FUZZ_CHECK(alarms.named[i].priority >= 0 && alarms.named[i].priority < kPriorities);
    named += alarms.named[i].length;
  }
  FUZZ_CHECK(named <= strlen(record.text));
  for (uint32_t count : alarms.counted.byPriority) FUZZ_CHECK(count <= kCountMost);
  FUZZ_CHECK(alarms.counted.namedSince <= alarms.namedCount);
}

void CheckEscalation(const EscalationRecord& held) {
  FUZZ_CHECK(fuzz::Terminated(held.holder, kNumberSize) && held.holder[0] != '\0');
  FUZZ_CHECK(fuzz::Terminated(held.passedOver, kNumberSize));
  FUZZ_CHECK(strnlen(held.text, sizeof held.text) <= kSmsTextLimit);
  FUZZ_CHECK(held.passedMinutes <= kLongestEscalationMinutes);
  FUZZ_CHECK(held.reachedCount >= 1 && held.reachedCount <= kEscalationNumberCapacity);
  for (int i = 0; i < held.reachedCount; ++i) {
    FUZZ_CHECK(fuzz::Terminated(held.reached[i].number, kNumberSize));
  }
}

// Keeps each record handed on, modelled, with where it lay.
class Recorder : public SpoolRecordSink {
 public:
  void Take(const SpoolRecord& record) override {
    if (record.kind == SpoolRecord::kEscalation) {
      CheckEscalation(record.escalation);
      records.push_back(ModelRecord(record, ids));
      FUZZ_CHECK(++escalations <= kEscalationCapacity);
      return;
    }
    if (record.kind == SpoolRecord::kReport) {
      const AwaitedReport& awaited = record.report;
      FUZZ_CHECK(fuzz::Terminated(awaited.number, kNumberSize) && record.text[0] == '\0');
      FUZZ_CHECK(awaited.reference >= 0 && awaited.reference <= 255 && awaited.phone < kPhoneCount);
      records.push_back(ModelRecord(record, ids));
      FUZZ_CHECK(++reports <= kAwaitedCapacity);
      return;
    }
    if (record.kind == SpoolRecord::kRing) {
      FUZZ_CHECK(fuzz::Terminated(record.ring.number, kNumberSize) && record.text[0] == '\0');
      FUZZ_CHECK(record.ring.unanswered <= 255 && record.ring.wait == record.pendingSince);
      records.push_back(ModelRecord(record, ids));
      FUZZ_CHECK(++rings <= kRingRuleCapacity);
      return;
    }
    FUZZ_CHECK(record.kind != SpoolRecord::kSms || (record.urgency >= -1 && record.urgency <= 2));
    size_t limit = record.kind == SpoolRecord::kSms ? kSmsTextLimit : kBatchCapacity - 1;
    FUZZ_CHECK(fuzz::Terminated(record.number, kNumberSize) && record.number[0] != '\0');
    FUZZ_CHECK(strnlen(record.text, kBatchCapacity) <= limit);
    FUZZ_CHECK(record.attempts >= 0 &&
               record.attempts <= (record.kind == SpoolRecord::kSms ? kMaxAttempts : 1));
    if (record.kind == SpoolRecord::kBatch) CheckBatchAlarms(record);
    records.push_back(ModelRecord(record, ids));
    int& kept = record.kind == SpoolRecord::kSms ? sms : batches;
    FUZZ_CHECK(++kept <=
               (record.kind == SpoolRecord::kSms ? kQueueCapacity : DestinationList::kCapacity));
  }
  // The records' bytes lie one after the other from the header on.
  void CheckFoundIn(const std::string& file) const {
    size_t at = kSpoolHeaderSize;
    for (const std::string& record : records) {
      FUZZ_CHECK(file.compare(at, record.size(), record) == 0);
      at += record.size();
    }
  }
  std::vector<std::string> records;
  bool ids = false;  // the file is of the version that keeps SMS ids
  int sms = 0;
  int batches = 0;
  int escalations = 0;
  int rings = 0;
  int reports = 0;
};

SpoolReading Decode(const std::string& file, Recorder& recorder) {
  recorder.ids = file.compare(0, kSpoolHeaderSize, "KELVOR SPOOL 2\r\n") == 0 ||
                 file.compare(0, kSpoolHeaderSize, "KELVOR SPOOL 3\r\n") == 0;
  return DecodeSpool(file.data(), file.size(), recorder);
}

void CheckRestored(const SmsModem& modem, const DestinationList& destinations) {
  FUZZ_CHECK(modem.QueuedCount() >= 0 && modem.QueuedCount() <= kQueueCapacity);
  for (int i = 0; i < modem.QueuedCount(); ++i) {
    const OutgoingSms& sms = modem.Queued(i);
    // Each its own id, whatever ids the file gave.
    FUZZ_CHECK(sms.id != 0);
    for (int j = 0; j < i; ++j) FUZZ_CHECK(modem.Queued(j).id != sms.id);
    FUZZ_CHECK(strnlen(sms.text, sizeof sms.text) <= kSmsTextLimit);
    FUZZ_CHECK(strpbrk(sms.text, "\x1a\x1b") == nullptr);
    FUZZ_CHECK(fuzz::Terminated(sms.number, kNumberSize) && SafeForCommand(sms.number));
  }
  destinations.ForEachPendingBatch([](const PendingBatch& batch) {
    FUZZ_CHECK(fuzz::Terminated(batch.text, kBatchCapacity));
    // A batch that counts alarms, restored, stays within one SMS with its summary line.
    if (batch.alarms->counted.Total() > 0) FUZZ_CHECK(strlen(batch.text) <= kSmsTextLimit);
  });
}

// Cut at `at`, or the byte there changed: the records wholly before `at` come back.
void CheckDamage(const std::string& file, const std::vector<std::string>& records, size_t at,
                 bool cut) {
  std::string damaged = file;
  if (cut) {
    damaged.resize(at);
  } else {
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
  }
  size_t whole = 0;
  for (size_t end = kSpoolHeaderSize; whole < records.size(); ++whole) {
    end += records[whole].size();
    if (end > at) break;
  }
  Recorder recorder;
  SpoolReading reading = Decode(damaged, recorder);
  FUZZ_CHECK(reading.damaged);
  FUZZ_CHECK(recorder.records.size() == whole);
  for (size_t i = 0; i < whole; ++i) FUZZ_CHECK(recorder.records[i] == records[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Recorder recorder;
  SpoolReading reading = Decode(input, recorder);
  FUZZ_CHECK(static_cast<size_t>(reading.records) == recorder.records.size());
  recorder.CheckFoundIn(input);

  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock;
  SmsModem modem(nullptr, nullptr, nullptr, log, clock);
  DestinationList destinations;
  for (const char* specification : {"=+1,A,H,5", "=+2,A,H,5,F", "=+1,B,L,0", "=+3,A,H"}) {
    std::string text = specification;
    destinations.Add(ParseDestination(&text[0]));
  }
  // Rules for the numbers a file may well name, so that records come back and are written
  // again.
  Escalation escalation;
  WakeUpCalls calls;
  escalation.AddRule("+1", 5, "+2");
  escalation.AddRule("+2", 1440, "+3");
  escalation.AddRule("+3", 1, "+1");
  calls.AddRule("+1", 5, 2);
  calls.AddRule("+2", 1, 0);
  RestoreSpool(input.data(), input.size(), modem, destinations, escalation, calls, 1000);
  CheckRestored(modem, destinations);
  FUZZ_CHECK(escalation.Count() >= 0 && escalation.Count() <= kEscalationCapacity);

  std::vector<char> buffer(kSpoolCapacity);
  size_t length =
      EncodeSpool(modem, destinations, escalation, calls, 1000, buffer.data(), buffer.size());
  FUZZ_CHECK(length > 0);
  const std::string file(buffer.data(), length);
  Recorder again;
  FUZZ_CHECK(!Decode(file, again).damaged);
  again.CheckFoundIn(file);
  uint32_t spread = ModelCrc(input);
  CheckDamage(file, again.records, spread % file.size(), true);
  CheckDamage(file, again.records, (spread >> 16) % file.size(), false);
  return 0;
}
