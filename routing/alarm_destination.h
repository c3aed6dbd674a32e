// One SMS recipient: its filter, message form, delay and batch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "routing/destination_specification.h"
#include "scada/alarm_record.h"
#include "scada/tag_reader.h"

namespace kelvor {

// What a destination needs while it handles alarms.
struct RoutingContext {
  Log& log;
  TagReader& tags;
  Clock& clock;
  SmsOutbox& outbox;
};

// Sizes of the texts a destination works with.
constexpr size_t kHeaderLength = 12;  // "Fix Alarms\r\n", the longer header
constexpr size_t kStatusNameMax = 5;  // longest status name, "ERROR"
constexpr size_t kTagNameMax = record_layout::kTagNameWidth;
constexpr size_t kTagTextMax = kTagTextSize - 1;
constexpr size_t kSmallNumberMax = 4;  // a signed 8-bit number printed: "-128"

// "d/hh:mm\n" with each number as wide as a signed 8-bit value can print.
constexpr size_t kTimeLineMax = 3 * kSmallNumberMax + 3;
// The full form: time, tag, status name, description, "=" and the value, each on a line.
constexpr size_t kFullTextMax = kTimeLineMax + (kTagNameMax + 1) + (kStatusNameMax + 1) +
                                (kTagTextMax + 1) + (1 + kTagTextMax + 1);
constexpr size_t kShortTextMax = kTimeLineMax + kTagTextMax + 1;
constexpr size_t kAlarmTextSize = kFullTextMax + 1;

// A batch stays within the SMS limit, except for a restarted batch (the header) that takes
// a text too long to share an SMS; the modem queue shortens that one.
constexpr size_t kBatchCapacity =
    (kSmsTextLimit > kHeaderLength + kFullTextMax ? kSmsTextLimit : kHeaderLength + kFullTextMax) +
    1;
static_assert(kFullTextMax == 150, "full form: 15 + 32 + 6 + 48 + 49");
static_assert(kBatchCapacity == 163, "a header and one full text");
static_assert(kShortTextMax < kFullTextMax, "the full form is the longest text");

class AlarmDestination {
 public:
  // A destination as `parsed` gives it. One whose destination specification was
  // incomplete or refused takes no alarm.
  explicit AlarmDestination(const ParsedDestination& parsed);

  // Filters one alarm and, if it concerns this destination, adds its text to the batch.
  // When the text would take the batch past one SMS (159 characters, or what the outbox's
  // coding holds), the batch is handed to the modem first; if the queue refuses it then, it
  // is lost, and the queue says so.
  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  // Hands the batch to the modem once its delay has run out. A due batch that finds the
  // queue full stays pending and is offered again at every call, taking later alarms
  // while they fit.
  void FlushIfDue(RoutingContext& context);

  bool BatchPending() const { return batchPending_; }
  const char* Number() const { return spec_.number; }
  const char* Batch() const { return batch_; }
  // The tick at which the pending batch took its first alarm.
  uint32_t PendingSince() const { return pendingSince_; }

  // Takes back a batch that was pending before a restart; its delay starts again from
  // `now`. False, taking nothing, when this destination takes no alarm.
  bool RestoreBatch(const char* text, uint32_t now);
  // Grows by one at every change of the batch: begun, grown, handed over or restored.
  uint32_t Changes() const { return changes_; }

  // True from the moment a batch of this destination found the queue full (due and
  // waiting, or handed over and lost) until the queue takes one of its SMS, or until it has
  // nothing pending while the queue has room. `WaitingSince` is that moment's tick.
  bool WaitingForRoom() const { return waitingForRoom_; }
  uint32_t WaitingSince() const { return waitingSince_; }

 private:
  void StartDeadline(uint32_t now);
  void SetBatch(const char* header);
  void AppendToBatch(const char* text, size_t length);
  bool FitsWithBatch(const char* text, size_t length, RoutingContext& context) const;
  bool HandsOverBefore(size_t length) const;
  void SendBatch(RoutingContext& context);
  void PullInFarDeadline(uint32_t now);
  void WaitForRoom(RoutingContext& context);
  void StartWaitingForRoom(uint32_t now);
  bool Concerns(const AlarmRecord& record) const;
  bool EnabledFor(const AlarmRecord& record, RoutingContext& context);
  size_t FormatText(const AlarmRecord& record, RoutingContext& context, char* text);

  DestinationSpecification spec_;
  bool takesAlarms_;
  uint32_t deadline_ = 0;
  bool batchPending_ = false;
  bool waiting_ = false;  // the due batch found the queue full, and the console was told
  bool waitingForRoom_ = false;
  uint32_t waitingSince_ = 0;
  char batch_[kBatchCapacity] = {};
  size_t batchLength_ = 0;
  uint32_t pendingSince_ = 0;
  uint32_t changes_ = 0;
};

}  // namespace kelvor
