// One SMS recipient: its filter, message form, delay and batch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "routing/alarm_batch.h"
#include "routing/destination_specification.h"
#include "routing/duty_hours.h"
#include "scada/alarm_record.h"
#include "scada/tag_reader.h"

namespace kelvor {

// What a destination needs while it handles alarms.
struct RoutingContext {
  Log& log;
  TagReader& tags;
  Clock& clock;
  SmsOutbox& outbox;
  const DutyRoster* duty = nullptr;  // null: every number always on duty
};

class AlarmDestination {
 public:
  // A destination as `parsed` gives it. One whose destination specification was
  // incomplete or refused takes no alarm.
  explicit AlarmDestination(const ParsedDestination& parsed);

  // Filters one alarm and, if it concerns this destination, adds its text to the batch.
  // When the text would take the batch past one SMS (159 characters, or what the outbox's
  // coding holds), the batch is handed to the modem first. If the queue is full then, the
  // batch stays, and the alarm takes the place of a less urgent one it names or is counted in
  // the batch's summary line (AlarmBatch::Keep).
  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  // OfferAlarm in two halves, for a list that first asks who would take the alarm: the
  // filter (saying what it drops, as OfferAlarm does), then the taking of one it passed.
  bool Accepts(const AlarmRecord& record, RoutingContext& context);
  void TakeAlarm(const AlarmRecord& record, RoutingContext& context);
  // Hands the batch to the modem once its delay has run out, or at once when it stayed
  // past one SMS. A batch that finds the queue full stays pending and is offered
  // again at every call, taking later alarms while they fit, and counting them after.
  void FlushIfDue(RoutingContext& context);

  bool BatchPending() const { return batchPending_; }
  const char* Number() const { return spec_.number; }
  const char* Batch() const { return batch_.Text(); }
  // The alarms the batch names and those it counts.
  const BatchAlarms& BatchContents() const { return batch_.Alarms(); }
  // The tick at which the pending batch took its first alarm.
  uint32_t PendingSince() const { return pendingSince_; }

  // Takes back a batch that was pending before a restart, with the alarms it named and
  // counted if they are known (AlarmBatch::Restore); its delay starts again from `now`, and a
  // batch that counts alarms goes at the first flush that finds room. False, taking nothing,
  // when this destination takes no alarm.
  bool RestoreBatch(const char* text, uint32_t now, const BatchAlarms* alarms = nullptr);
  // Grows by one at every change of the batch: begun, grown, handed over or restored.
  uint32_t Changes() const { return changes_; }

  // True from the moment a batch of this destination found the queue full (due, or past
  // its 159 characters) until the queue takes one of its SMS, or until it has nothing
  // pending while the queue has room. `WaitingSince` is that moment's tick.
  bool WaitingForRoom() const { return waitingForRoom_; }
  uint32_t WaitingSince() const { return waitingSince_; }

 private:
  void StartDeadline(uint32_t now);
  bool Gather(const char* text, const NamedAlarm& alarm, RoutingContext& context);
  bool HandOver(RoutingContext& context);
  bool SendBatch(RoutingContext& context);
  void PullInFarDeadline(uint32_t now);
  void WaitForRoom(RoutingContext& context);
  bool Concerns(const AlarmRecord& record) const;
  bool EnabledFor(const AlarmRecord& record, RoutingContext& context);
  size_t FormatText(const AlarmRecord& record, RoutingContext& context, char* text);

  DestinationSpecification spec_;
  bool takesAlarms_;
  uint32_t deadline_ = 0;
  bool batchPending_ = false;
  bool waiting_ = false;      // the due batch found the queue full, and the console was told
  bool overflowing_ = false;  // the batch stayed past its 159 characters: it goes at once
  bool waitingForRoom_ = false;
  uint32_t waitingSince_ = 0;
  AlarmBatch batch_;
  uint32_t pendingSince_ = 0;
  uint32_t changes_ = 0;
};

}  // namespace kelvor
