// The spool file's format: its records, their CRC, and how they are written and read.
// What a run keeps in it, and the file itself, are spool.h's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/delivery_watch.h"
#include "modem/sms_outbox.h"
#include "routing/alarm_destination.h"
#include "routing/destination_list.h"
#include "routing/escalation.h"
#include "routing/wake_up_calls.h"

namespace kelvor {

// The file's layout, every number little-endian:
//   "KELVOR SPOOL 3\r\n"  the kind of file and its version
//   records, each: kind (1 byte: 'S' an SMS of the queue, 'B' a pending batch, 'A' an
//     alarm SMS awaiting an answer, 'R' a wake-up call waited for, 'E' the end), attempts
//     (1: sendings of the SMS so far; of an 'A', 1 when the phone confirmed it to its
//     holder; of a 'B', 1 when its alarms follow its text; of an 'R' the SMS it is for, at
//     most 255), tick (4: when the batch took its first alarm; of an SMS, its low byte 0 for
//     an alarm and 1 for an escalated one, its next byte the priority of its most urgent
//     alarm plus one (0: not known, taken as high); of an 'A' the milliseconds its holder
//     had left, of an 'R' those left until the call; the end's count of records), number length
//     (1), text length (1), the number (of an 'A' its holder), the text, then for an 'A' only: the
//     minutes of the number passed over (2), its length (1), that number, the count of numbers the
//     text reached (1) and each of them as confirmed (1: 0 or 1), length (1) and the number; for a
//     'B' of attempts 1 only: the count of alarms its text names (1), each one's text length,
//     priority (0 to 2), hour and minute (1 each), then the alarms counted of each priority, high,
//     medium and low (4 each), the hour and minute of the latest (1 each) and the named alarms
//     after it (1); then, in version 2, the id of an 'S' (4), and of an 'A' the ids of the alarm
//     SMS that began it and of the escalated SMS to its holder (4 each, 0 when none or not
//     known); in version 3, 'D' records too, an SMS awaiting its status report: attempts its
//     message reference, tick the milliseconds since it was confirmed, its number, no text,
//     then its id (4), its kind (1: an SmsKind) and its phone (1); CRC-32 (4) of the record's
//     bytes before it
//   the queue's SMS from the head, then the pending batches in the destinations' order,
//   then the alarm SMS awaiting an answer, then the wake-up calls waited for (an 'R' has no
//   text), then the SMS awaiting a status report, then the end record.
// A file cut short or with changed bytes fails a CRC, a limit or the end's count. A file
// written before escalation existed holds no 'A' and SMS of tick 0, and one written before
// batches counted alarms holds 'B' of attempts 0 (their text alone): it reads as it did. A file
// of version 1 (written before SMS kept their ids) reads with every id 0; one of version 2
// holds no 'D'.
struct SpoolRecord {
  enum Kind : char { kSms = 'S', kBatch = 'B', kEscalation = 'A', kRing = 'R', kReport = 'D' };
  Kind kind = kSms;
  int32_t attempts = 0;
  uint32_t pendingSince = 0;
  char number[kNumberSize] = {};
  char text[kBatchCapacity] = {};
  uint32_t id = 0;                    // kSms: the SMS's id; 0 not known
  SmsKind smsKind = SmsKind::kAlarm;  // kSms: an alarm or an escalated alarm
  int8_t urgency = -1;                // kSms: its most urgent alarm's priority; -1 not known
  bool batchAlarmsKept = false;       // kBatch: its alarms came with it
  BatchAlarms batchAlarms;
  EscalationRecord escalation;  // kEscalation
  RingRecord ring;              // kRing
  AwaitedReport report;         // kReport
};

constexpr size_t kSpoolHeaderSize = 16;
constexpr size_t kSpoolRecordOverhead = 12;  // kind, attempts, tick, two lengths, CRC
// The largest alarm SMS awaiting an answer: its holder and text, the number passed over,
// and every number the rules name as reached.
constexpr size_t kSpoolEscalationSize = kSpoolRecordOverhead + (kNumberSize - 1) + kSmsTextLimit +
                                        3 + (kNumberSize - 1) + 1 +
                                        kEscalationNumberCapacity * (2 + (kNumberSize - 1)) + 8;
// What follows a batch's text: its alarms, named and counted.
constexpr size_t kSpoolBatchAlarmsSize = 1 + kNamedCapacity * 4 + kPriorities * 4 + 3;
// The largest file Kelvor writes: a full queue, a batch at every destination and every
// escalation record in use (most of it for escalation, 146 KB; without, 13.6 KB).
constexpr size_t kSpoolCapacity =
    kSpoolHeaderSize +
    kQueueCapacity * (kSpoolRecordOverhead + (kNumberSize - 1) + kSmsTextLimit + 4) +
    DestinationList::kCapacity *
        (kSpoolRecordOverhead + (kNumberSize - 1) + (kBatchCapacity - 1) + kSpoolBatchAlarmsSize) +
    kEscalationCapacity * kSpoolEscalationSize +
    kRingRuleCapacity * (kSpoolRecordOverhead + (kNumberSize - 1)) +
    kAwaitedCapacity * (kSpoolRecordOverhead + (kNumberSize - 1) + 6) + kSpoolRecordOverhead;

// Writes a spool into a buffer that has room for it, record by record.
class SpoolEncoder {
 public:
  // Writes the header; `capacity` is at least kSpoolCapacity for the largest spool.
  SpoolEncoder(char* buffer, size_t capacity);

  void Sms(int32_t attempts, const char* number, const char* text, SmsKind kind, int8_t urgency,
           uint32_t id);
  void Batch(uint32_t pendingSince, const char* number, const char* text,
             const BatchAlarms& alarms);
  void Escalation(const EscalationRecord& record);
  void Ring(const RingRecord& record);
  void Report(const AwaitedReport& awaited);
  // Writes the end record; returns the spool's length, or 0 when it did not fit.
  size_t Finish();

 private:
  void Bytes(const char* data, size_t length);
  void Byte(uint32_t value);
  void U32(uint32_t value);
  void Counted(const char* text);
  void Head(char kind, int32_t attempts, uint32_t tick, const char* number, const char* text);
  void Crc(size_t start);
  void Record(char kind, int32_t attempts, uint32_t tick, const char* number, const char* text);

  char* buffer_;
  size_t capacity_;
  size_t used_ = 0;
  bool full_ = false;
  uint32_t records_ = 0;
};

class SpoolRecordSink {
 public:
  virtual void Take(const SpoolRecord& record) = 0;

 protected:
  ~SpoolRecordSink() = default;
};

// How far a file was whole.
struct SpoolReading {
  int records = 0;         // records handed on
  bool damaged = false;    // something was wrong: cut short, changed, or too much
  uint32_t damagedAt = 0;  // the byte where the first record not whole begins
};

// Hands `sink` every record, in order, up to the first that is not whole; never more SMS
// than the queue holds, more batches than there are destination slots, more alarm SMS
// awaiting an answer than the escalation holds or more calls than there are rules.
SpoolReading DecodeSpool(const char* bytes, size_t length, SpoolRecordSink& sink);

}  // namespace kelvor
