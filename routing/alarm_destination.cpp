#include "routing/alarm_destination.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kelvor {
namespace {

// The first batch's header ends in LF, every later one in CR LF: phones and the scripts
// that read their SMS have always seen them so.
constexpr char kFirstHeader[] = "Fix Alarms\n";
constexpr char kLaterHeader[] = "Fix Alarms\r\n";
static_assert(sizeof kLaterHeader - 1 == kHeaderLength, "the longer header");

// A deadline further ahead than this is pulled in to now.
constexpr uint32_t kLongestWait = 3600000;  // one hour in ms

}  // namespace

AlarmDestination::AlarmDestination(const ParsedDestination& parsed)
    : spec_(parsed.specification),
      // An incomplete or refused specification, or one without a priority, is not what the
      // operator meant: such a destination takes nothing.
      takesAlarms_(parsed.outcome == ParsedDestination::kComplete &&
                   spec_.priority != kNoPriority) {
  SetBatch(spec_.fullMessages ? kFirstHeader : "");
}

void AlarmDestination::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  const auto alarmText = record.AlarmText();
  if (!Concerns(record)) {
    context.log.Print("Ignoring alm %.60s\r\n", alarmText.c_str());
    return;
  }
  if (spec_.enableTagPresent && !EnabledFor(record, context)) return;

  char text[kAlarmTextSize];
  size_t length = FormatText(record, context, text);
  if (!FitsWithBatch(text, length, context) && HandsOverBefore(length)) SendBatch(context);
  AppendToBatch(text, length);
  if (!batchPending_) StartDeadline(context.clock.TickCount());
  batchPending_ = true;
  ++changes_;
  context.log.Print("Buffering alm %.60s\r\n", alarmText.c_str());
}

// Whether the batch with `text` after it still goes as one SMS: the outbox knows the limit
// of the coding the texts go in (159 characters, or 70 of UCS-2).
bool AlarmDestination::FitsWithBatch(const char* text, size_t length,
                                     RoutingContext& context) const {
  char joined[kBatchCapacity + kAlarmTextSize];
  memcpy(joined, batch_, batchLength_);
  memcpy(joined + batchLength_, text, length);
  joined[batchLength_ + length] = '\0';
  return context.outbox.FitsOneSms(joined);
}

// A batch that holds an alarm goes before a text that would not fit with it. One that holds
// only its header goes alone, as it always has, only where header and text pass 159
// characters: a coding that holds fewer (70 of UCS-2) never makes an SMS of a header alone.
bool AlarmDestination::HandsOverBefore(size_t length) const {
  return batchPending_ || batchLength_ + length > kSmsTextLimit;
}

// Wraps like the tick count itself; a negative delay lies before now.
void AlarmDestination::StartDeadline(uint32_t now) {
  deadline_ = now + static_cast<uint32_t>(spec_.delay) * 1000u;
  pendingSince_ = now;
}

bool AlarmDestination::RestoreBatch(const char* text, uint32_t now) {
  if (!takesAlarms_) return false;
  SetBatch("");
  AppendToBatch(text, strlen(text));
  StartDeadline(now);
  batchPending_ = true;
  waiting_ = false;
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
  if (DeadlinePassed(context.clock.TickCount(), deadline_)) {
    if (context.outbox.Full()) {
      WaitForRoom(context);
    } else {
      SendBatch(context);
    }
  }
  PullInFarDeadline(context.clock.TickCount());
}

// The batch stays pending, its deadline passed, so every later flush offers it again.
// Said once per batch: the operator sees why its SMS is late, not a line per pass.
void AlarmDestination::WaitForRoom(RoutingContext& context) {
  if (!waiting_) context.log.Print("Message queue full - SMS to %s waits\r\n", spec_.number);
  waiting_ = true;
  StartWaitingForRoom(context.clock.TickCount());
}

// A destination whose batch was lost goes on waiting from the moment it began to: the
// destination list gives the next free place to the one that has waited longest.
void AlarmDestination::StartWaitingForRoom(uint32_t now) {
  if (waitingForRoom_) return;
  waitingForRoom_ = true;
  waitingSince_ = now;
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

// Hands the batch to the modem. The queue reports a batch it refuses as lost; the
// destination then waits for room. A destination without a number never queues anything.
void AlarmDestination::SendBatch(RoutingContext& context) {
  if (spec_.number[0] != '\0') {
    if (context.outbox.QueueMessage(batch_, spec_.number)) {
      waitingForRoom_ = false;
    } else {
      StartWaitingForRoom(context.clock.TickCount());
    }
  }
  batchPending_ = false;
  waiting_ = false;
  ++changes_;
  SetBatch(spec_.fullMessages ? kLaterHeader : "");
}

void AlarmDestination::SetBatch(const char* header) {
  batchLength_ = 0;
  batch_[0] = '\0';
  AppendToBatch(header, strlen(header));
}

void AlarmDestination::AppendToBatch(const char* text, size_t length) {
  size_t room = kBatchCapacity - 1 - batchLength_;
  if (length > room) length = room;
  memcpy(batch_ + batchLength_, text, length);
  batchLength_ += length;
  batch_[batchLength_] = '\0';
}

}  // namespace kelvor
