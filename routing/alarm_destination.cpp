#include "routing/alarm_destination.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kelvor {
namespace {

// A deadline further ahead than this is pulled in to now.
constexpr uint32_t kLongestWait = 3600000;  // one hour in ms

}  // namespace

AlarmDestination::AlarmDestination(const ParsedDestination& parsed)
    : spec_(parsed.specification),
      // An incomplete or refused specification, or one without a priority, is not what the
      // operator meant: such a destination takes nothing.
      takesAlarms_(parsed.outcome == ParsedDestination::kComplete &&
                   spec_.priority != kNoPriority) {
  batch_.Begin(spec_.fullMessages ? kFirstHeader : "");
}

void AlarmDestination::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  if (Accepts(record, context)) TakeAlarm(record, context);
}

bool AlarmDestination::Accepts(const AlarmRecord& record, RoutingContext& context) {
  if (!Concerns(record)) {
    context.log.Print("Ignoring alm %.60s\r\n", record.AlarmText().c_str());
    return false;
  }
  return !spec_.enableTagPresent || EnabledFor(record, context);
}

void AlarmDestination::TakeAlarm(const AlarmRecord& record, RoutingContext& context) {
  const auto alarmText = record.AlarmText();
  char text[kAlarmTextSize];
  NamedAlarm alarm;
  alarm.length = static_cast<uint8_t>(FormatText(record, context, text));
  alarm.priority = record.Priority();
  alarm.hour = record.Hour();
  alarm.minute = record.Minute();
  bool named = Gather(text, alarm, context);
  if (!batchPending_) StartDeadline(context.clock.TickCount());
  batchPending_ = true;
  ++changes_;
  context.log.Print("%s alm %.60s\r\n", named ? "Buffering" : "Counting", alarmText.c_str());
}

// Adds the alarm to the batch, handing the batch over first when its text does not fit.
// True when the batch names the alarm, false when it counts it.
bool AlarmDestination::Gather(const char* text, const NamedAlarm& alarm, RoutingContext& context) {
  if (!batch_.Fits(text, alarm.length, context.outbox)) {
    if (!batch_.HoldsAlarms()) {
      // A header alone goes, as it always has, only where header and text pass 159 characters
      // (and while the queue has room: it carries no alarm); the text fills a batch of its own
      // for the queue to shorten. A coding that holds fewer (70 of UCS-2) never makes an SMS of
      // a header alone: the text joins it, and the queue makes SMS of its coding of them.
      bool over = batch_.Length() + alarm.length > kSmsTextLimit;
      if (over && !context.outbox.Full()) SendBatch(context);
    } else if (!HandOver(context)) {
      overflowing_ = true;
      return batch_.Keep(text, alarm, context.outbox);
    }
  }
  batch_.Name(text, alarm);
  return true;
}

// Wraps like the tick count itself; a negative delay lies before now.
void AlarmDestination::StartDeadline(uint32_t now) {
  deadline_ = now + static_cast<uint32_t>(spec_.delay) * 1000u;
  pendingSince_ = now;
}

bool AlarmDestination::RestoreBatch(const char* text, uint32_t now, const BatchAlarms* alarms) {
  if (!takesAlarms_) return false;
  if (alarms != nullptr) {
    batch_.Restore(text, *alarms);
  } else {
    batch_.Restore(text);
  }
  StartDeadline(now);
  batchPending_ = true;
  waiting_ = false;
  overflowing_ = batch_.Alarms().counted.Total() > 0;
  ++changes_;
  return true;
}

// The priority and area filter: the alarm is at least as urgent as the destination's
// priority and shares an area with it.
bool AlarmDestination::Concerns(const AlarmRecord& record) const {
  if (!takesAlarms_) return false;
  return record.Priority() <= spec_.priority &&
         (record.AreaMask() & static_cast<uint16_t>(spec_.areaMask)) != 0;
}

void AlarmDestination::FlushIfDue(RoutingContext& context) {
  if (!batchPending_) {
    if (!context.outbox.Full()) waitingForRoom_ = false;  // nothing of it waits
    return;
  }
  if (overflowing_ || DeadlinePassed(context.clock.TickCount(), deadline_)) HandOver(context);
  PullInFarDeadline(context.clock.TickCount());
}

// Hands the batch to the modem; false when the queue has no room for it (a batch of UCS-2 may
// go as several SMS), and the batch waits.
bool AlarmDestination::HandOver(RoutingContext& context) {
  if (context.outbox.HasRoomFor(batch_.Text()) && SendBatch(context)) return true;
  WaitForRoom(context);
  return false;
}

// The batch stays pending, so every later flush offers it again. Said once per batch: the
// operator sees why its SMS is late, not a line per pass. The destination goes on waiting
// from the moment it began to, until the queue takes one of its SMS: the destination list
// gives the next free place to the one that has waited longest.
void AlarmDestination::WaitForRoom(RoutingContext& context) {
  if (!waiting_) context.log.Print("Message queue full - SMS to %s waits\r\n", spec_.number);
  waiting_ = true;
  if (waitingForRoom_) return;
  waitingForRoom_ = true;
  waitingSince_ = context.clock.TickCount();
}

// A deadline more than an hour ahead is moved to now, so the batch goes out at the next
// flush: a delay longer than an hour is not waited out. So is one that has passed, so that
// a batch waiting for room never lets its deadline age beyond the tick's reach.
void AlarmDestination::PullInFarDeadline(uint32_t now) {
  if (DeadlinePassed(now, deadline_) || TimeLeft(now, deadline_) > kLongestWait) deadline_ = now;
}

// The enable tag's value, always read from "F_CV": zero or not a number disables.
bool AlarmDestination::EnabledFor(const AlarmRecord& record, RoutingContext& context) {
  float value = 0.0f;
  if (context.tags.ReadTagNumber(spec_.enableNode, spec_.enableTag, "F_CV", &value) != 0) {
    // "ignoringalm" in one word, as operators' scripts match it.
    context.log.Print("Error reading enable tag ignoringalm %.50s\r\n", record.AlarmText().c_str());
    return false;
  }
  if (value == 0.0f || std::isnan(value)) {
    context.log.Print("Disabled send alm %.60s\r\n", record.AlarmText().c_str());
    return false;
  }
  return true;
}

// Writes the alarm's text into `text` (kAlarmTextSize bytes); returns its length.
size_t AlarmDestination::FormatText(const AlarmRecord& record, RoutingContext& context,
                                    char* text) {
  const auto node = record.NodeName();
  const auto tag = record.TagName();
  // A failed read leaves "desc" showing.
  char description[kTagTextSize] = {'d', 'e', 's', 'c'};
  context.tags.ReadTagText(node.c_str(), tag.c_str(), "A_DESC", description);
  description[kTagTextMax] = '\0';

  int written;
  if (spec_.fullMessages) {
    char value[kTagTextSize] = {};
    if (context.tags.ReadTagText(node.c_str(), tag.c_str(), "A_CV", value) != 0) value[0] = '\0';
    value[kTagTextMax] = '\0';
    const char* shown = value;
    while (*shown == ' ') ++shown;
    written = snprintf(text, kAlarmTextSize, "%d/%02d:%02d\n%s\n%s\n%s\n=%s\n", record.Day(),
                       record.Hour(), record.Minute(), tag.c_str(), StatusName(record.StatusCode()),
                       description, shown);
  } else {
    written = snprintf(text, kAlarmTextSize, "%d/%02d:%02d\n%s\n", record.Day(), record.Hour(),
                       record.Minute(), description);
  }
  if (written < 0) {
    text[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(written) < kAlarmTextSize ? static_cast<size_t>(written)
                                                       : kAlarmTextSize - 1;
}

// Hands the batch to the modem and begins the next; false, keeping it, when the queue
// refuses it. A destination without a number never queues anything.
bool AlarmDestination::SendBatch(RoutingContext& context) {
  if (spec_.number[0] != '\0') {
    if (!context.outbox.QueueAlarms(batch_.Text(), spec_.number, batch_.MostUrgent())) return false;
    waitingForRoom_ = false;
  }
  batchPending_ = false;
  waiting_ = false;
  overflowing_ = false;
  ++changes_;
  batch_.Begin(spec_.fullMessages ? kLaterHeader : "");
  return true;
}

}  // namespace kelvor
